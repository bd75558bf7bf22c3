#include "mcast/RateLimiter.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/DebugOutput.h"

namespace {

// Credit arithmetic runs in 64 bits and is clamped back into the 32-bit field,
// so that no run of sends without refills can overflow it.
LONG ClampCredit(std::int64_t llUnits) {
  constexpr std::int64_t kMin = std::numeric_limits<LONG>::min();
  return static_cast<LONG>(std::max(llUnits, kMin));
}

}  // namespace

CRateLimiter::CRateLimiter()
    : m_lCredit(0), m_lMaxCredit(0), m_lRatePerMs(1), m_dwLastRefillMs(0), m_dwRefillCapMs(0) {}

DWORD CRateLimiter::Init(DWORD dwBytesPerSec, DWORD dwMaxCreditBytes) {
  if (!ORV_ASSERT(dwBytesPerSec <= kMaxRate && dwMaxCreditBytes <= kMaxRate)) {
    return ERROR_INVALID_PARAMETER;
  }
  // A larger maximum would overflow the 32-bit credit; refuse rather than wrap.
  if (!ORV_ASSERT(dwMaxCreditBytes <= 128 * 1024)) return ERROR_INVALID_PARAMETER;
  m_lMaxCredit = static_cast<LONG>(dwMaxCreditBytes << kUnitShift);
  m_lRatePerMs = static_cast<LONG>((dwBytesPerSec << kUnitShift) / 1000);
  if (m_lRatePerMs < 1) m_lRatePerMs = 1;
  m_dwRefillCapMs = static_cast<DWORD>((m_lMaxCredit + 0x40000000) / m_lRatePerMs);
  m_lCredit = 0;
  return ERROR_SUCCESS;
}

void CRateLimiter::Use(DWORD dwBytes) {
  ORV_ASSERT(dwBytes < 128 * 1024);
  m_lCredit = ClampCredit(std::int64_t{m_lCredit} - (std::int64_t{dwBytes} << kUnitShift));
}

void CRateLimiter::Refill() {
  DWORD dwNow = m_timer.Elapsed();
  DWORD dwDelta = dwNow - m_dwLastRefillMs;
  if (dwDelta >= m_dwRefillCapMs) {
    m_lCredit = m_lMaxCredit;
  } else {
    std::int64_t llCredit = std::int64_t{m_lCredit} + std::int64_t{dwDelta} * m_lRatePerMs;
    m_lCredit = ClampCredit(std::min<std::int64_t>(llCredit, m_lMaxCredit));
  }
  m_dwLastRefillMs = dwNow;
}

DWORD CRateLimiter::GetWaitMs() {
  Refill();
  if (m_lCredit >= 0) return 0;
  DWORD dwMs = static_cast<DWORD>(-(m_lCredit / m_lRatePerMs));
  return dwMs == 0 ? 1 : dwMs;
}

BOOL CRateLimiter::HasCredit() {
  Refill();
  return m_lCredit > 0 ? TRUE : FALSE;
}
