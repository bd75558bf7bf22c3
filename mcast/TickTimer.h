// CTickTimer: a millisecond stopwatch over the 32-bit tick count, right across
// its wrap.
#pragma once

#include "platform/Tick.h"

class CTickTimer {
 public:
  CTickTimer() : m_dwStart(GetTickCount()) {}
  // Milliseconds since construction, modulo 2^32.
  DWORD Elapsed() const { return GetTickCount() - m_dwStart; }

 private:
  DWORD m_dwStart;
};
