// The 32-bit millisecond tick count (CLOCK_MONOTONIC, truncated), with a seam
// through which tests supply their own ticks.
#pragma once

#include "platform/Win32Types.h"

DWORD GetTickCount();

namespace platform {

// While installed, GetTickCount returns the fake clock's value in every thread.
// Tests that inject ticks must uninstall before they end.
class FakeTickClock {
 public:
  static void Install(DWORD dwStart);
  static void Set(DWORD dwNow);
  static void Advance(DWORD dwMs);
  static void Uninstall();
};

}  // namespace platform
