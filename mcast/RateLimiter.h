// CRateLimiter: the send-rate credit of the multicast port. Credit is kept in
// units of 1/64 byte, refilled from the elapsed milliseconds of its own
// CTickTimer (so tests drive it with platform::FakeTickClock) up to a maximum,
// and spent by each send; a negative credit tells how long to wait.
//
// Not thread-safe: the port touches it only under its own lock.
#pragma once

#include "mcast/TickTimer.h"
#include "platform/Win32Types.h"

class CRateLimiter {
 public:
  // Bytes become credit units by a shift left of 6.
  static constexpr int kUnitShift = 6;
  static constexpr DWORD kMaxRate = 0x3FFFFFF;       // bytes per second and credit bytes
  static constexpr DWORD kMaxCreditBytes = 128 * 1024;

  CRateLimiter();
  CRateLimiter(const CRateLimiter&) = delete;
  CRateLimiter& operator=(const CRateLimiter&) = delete;

  // 0, or ERROR_INVALID_PARAMETER (87) for a rate or maximum credit above
  // kMaxRate, or a maximum credit above kMaxCreditBytes; the limiter is then
  // left unusable and must not be used.
  DWORD Init(DWORD dwBytesPerSec, DWORD dwMaxCreditBytes);

  // Spends the credit of one send (may drive the credit negative).
  // REQUIRES: dwBytes < kMaxCreditBytes.
  void Use(DWORD dwBytes);

  // Adds the credit earned since the last refill, up to the maximum.
  void Refill();

  // Refills; 0 when the credit is not negative, otherwise the milliseconds
  // until it is (at least 1).
  DWORD GetWaitMs();

  // Refills; TRUE when the credit is positive.
  BOOL HasCredit();

  LONG GetCredit() const { return m_lCredit; }  // units, for tests

 private:
  LONG m_lCredit;          // units of 1/64 byte
  LONG m_lMaxCredit;       // units
  LONG m_lRatePerMs;       // units per millisecond, at least 1
  DWORD m_dwLastRefillMs;  // on m_timer
  DWORD m_dwRefillCapMs;   // an idle span this long refills to the maximum
  CTickTimer m_timer;
};
