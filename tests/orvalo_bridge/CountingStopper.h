// Test helper: a stopper that counts its calls and notes the thread of the
// last one.
#pragma once

#include <atomic>

#include "orvalo/PacketHandler.h"
#include "platform/Thread.h"

namespace bridgetest {

class CountingStopper : public CStopper {
 public:
  void Stop() override {
    m_dwThreadId = GetCurrentThreadId();
    ++m_nStops;
  }
  std::atomic<int> m_nStops{0};
  std::atomic<DWORD> m_dwThreadId{0};
};

}  // namespace bridgetest
