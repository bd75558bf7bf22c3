// The multicast port: readiness waits, socket events, the rate limiter and
// simulated loss.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <thread>

#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

namespace {

// The poll time-out of a select time-out: -1 without a limit.
int PollTimeoutMs(long lSec, long lUsec) {
  if (lSec == -1) return -1;
  long long llMs = static_cast<long long>(std::max(lSec, 0L)) * 1000 + std::max(lUsec, 0L) / 1000;
  return static_cast<int>(std::min<long long>(llMs, 0x7FFFFFFF));
}

// Sleeps until `ready()` holds, in short steps after a coarse first sleep,
// so that a credit wait ends close to the tick at which the credit turns
// non-negative and never oversleeps by a whole tick. Gives up after
// dwWaitMs + 2 real milliseconds (with injected ticks time may stand still).
template <typename Ready>
void SleepUntil(DWORD dwWaitMs, Ready ready) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(dwWaitMs + 2);
  if (dwWaitMs > 1) std::this_thread::sleep_for(std::chrono::milliseconds(dwWaitMs - 1));
  while (!ready() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

}  // namespace

int CMulticast::SocketEvents(SOCKET s, HANDLE hEvent, std::atomic<long>* pInterest, long lSelect,
                             WSANETWORKEVENTS* pEvents) {
  if (pEvents == nullptr) {
    if (WSAEventSelect(s, hEvent, lSelect) != 0)
      return RecordError(static_cast<int>(GetLastError()));
    *pInterest = lSelect;
  } else {
    *pEvents = {};
    if (WSAEnumNetworkEvents(s, hEvent, &pEvents->lNetworkEvents) != 0) {
      return RecordError(static_cast<int>(GetLastError()));
    }
    pEvents->lNetworkEvents &= *pInterest;  // only what was selected, as Windows reports
  }
  m_nLastError = WSABASEERR;
  return 0;
}

int CMulticast::RcvEventSelect(HANDLE hEvent, long lNetworkEvents) {
  return SocketEvents(m_sRcv, hEvent, &m_lRcvInterest, lNetworkEvents, nullptr);
}

int CMulticast::SndEventSelect(HANDLE hEvent, long lNetworkEvents) {
  return SocketEvents(m_sSnd, hEvent, &m_lSndInterest, lNetworkEvents, nullptr);
}

int CMulticast::RcvEnumNetworkEvents(HANDLE hEvent, WSANETWORKEVENTS* pEvents) {
  if (!ORV_ASSERT(pEvents != nullptr)) return RecordError(WSAEFAULT);
  return SocketEvents(m_sRcv, hEvent, &m_lRcvInterest, 0, pEvents);
}

int CMulticast::SndEnumNetworkEvents(HANDLE hEvent, WSANETWORKEVENTS* pEvents) {
  if (!ORV_ASSERT(pEvents != nullptr)) return RecordError(WSAEFAULT);
  return SocketEvents(m_sSnd, hEvent, &m_lSndInterest, 0, pEvents);
}

int CMulticast::Select(long lSec, long lUsec, BOOL* pfReadReady, BOOL* pfWriteReady, BOOL fCheckRead,
                       BOOL fCheckWrite) {
  if (!ORV_ASSERT(pfReadReady != nullptr && pfWriteReady != nullptr)) return RecordError(WSAEFAULT);
  *pfReadReady = FALSE;
  *pfWriteReady = FALSE;
  pollfd fds[2];
  nfds_t n = 0;
  if (fCheckRead) {
    if (m_sRcv == INVALID_SOCKET) return RecordError(WSAENOTSOCK);
    fds[n++] = {m_sRcv, POLLIN, 0};
  }
  if (fCheckWrite) {
    if (m_sSnd == INVALID_SOCKET) return RecordError(WSAENOTSOCK);
    fds[n++] = {m_sSnd, POLLOUT, 0};
  }
  int nReady = poll(fds, n, PollTimeoutMs(lSec, lUsec));
  if (nReady < 0) {
    RecordErrno();
    ORV_ASSERT(!"select failed");
    return SOCKET_ERROR;
  }
  m_nLastError = WSABASEERR;
  if (nReady > 0) {
    nfds_t i = 0;
    if (fCheckRead) *pfReadReady = (fds[i++].revents & (POLLIN | POLLERR | POLLHUP)) ? TRUE : FALSE;
    if (fCheckWrite) *pfWriteReady = (fds[i].revents & (POLLOUT | POLLERR)) ? TRUE : FALSE;
  }
  return nReady;
}

int CMulticast::WaitReady(long lSec, long lUsec, BOOL* pfReadReady, BOOL* pfWriteReady, BOOL fCheckRead,
                          BOOL fCheckWrite) {
  if (!ORV_ASSERT(pfReadReady != nullptr && pfWriteReady != nullptr)) return RecordError(WSAEFAULT);
  *pfReadReady = FALSE;
  *pfWriteReady = FALSE;
  if (!ORV_ASSERT(fCheckRead || fCheckWrite)) return 0;
  bool fLimited;
  {
    CLockGuard guard(&m_lock);
    fLimited = m_pRateLimiter != nullptr;
  }
  if (!fCheckWrite || !fLimited) return Select(lSec, lUsec, pfReadReady, pfWriteReady, fCheckRead, fCheckWrite);

  const bool fTimed = lSec != -1;
  long lMs = std::max(lSec, 0L) * 1000 + std::max(lUsec, 0L) / 1000;
  if (fTimed && lMs < static_cast<long>(LimiterWaitMs())) {
    if (!fCheckRead) {
      Sleep(static_cast<DWORD>(lMs));
      return 0;
    }
    return Select(lSec, lUsec, pfReadReady, pfWriteReady, TRUE, FALSE);
  }
  BOOL fHasCredit;
  {
    CLockGuard guard(&m_lock);
    fHasCredit = m_pRateLimiter == nullptr || m_pRateLimiter->HasCredit();
  }
  if (!fHasCredit) {
    DWORD dwWaitMs = LimiterWaitMs();
    if (fCheckRead) {
      int n = Select(static_cast<long>(dwWaitMs / 1000), static_cast<long>(dwWaitMs % 1000) * 1000, pfReadReady,
                     pfWriteReady, TRUE, FALSE);
      if (n == SOCKET_ERROR || *pfReadReady) return n;
    } else {
      Sleep(dwWaitMs);
    }
    if (fTimed) {
      lMs = std::max(lMs - static_cast<long>(dwWaitMs), 0L);
      lSec = lMs / 1000;
      lUsec = (lMs % 1000) * 1000;
    }
  }
  return Select(lSec, lUsec, pfReadReady, pfWriteReady, fCheckRead, fCheckWrite);
}

DWORD CMulticast::LimiterWaitMs() {
  CLockGuard guard(&m_lock);
  return m_pRateLimiter == nullptr ? 0 : m_pRateLimiter->GetWaitMs();
}

void CMulticast::WaitForCredit(DWORD dwTotalBytes) {
  DWORD dwWaitMs = LimiterWaitMs();
  if (dwWaitMs != 0) SleepUntil(dwWaitMs, [this] { return LimiterWaitMs() == 0; });
  CLockGuard guard(&m_lock);
  if (m_pRateLimiter == nullptr) return;
  DWORD dwCharge = dwTotalBytes + kDatagramOverheadBytes;
  m_pRateLimiter->Use(std::min<DWORD>(dwCharge, CRateLimiter::kMaxCreditBytes - 1));
}

DWORD CMulticast::SetDataRate(DWORD dwBytesPerSec) {
  CLockGuard guard(&m_lock);
  delete m_pRateLimiter;
  m_pRateLimiter = nullptr;
  m_dwDataRate = 0;
  if (dwBytesPerSec == 0) return ERROR_SUCCESS;
  auto* pLimiter = new (std::nothrow) CRateLimiter;
  if (pLimiter == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD dwResult = pLimiter->Init(dwBytesPerSec, kMaxCreditBytes);
  if (dwResult != ERROR_SUCCESS) {  // no limiter with unset values stays in force
    delete pLimiter;
    return dwResult;
  }
  m_pRateLimiter = pLimiter;
  m_dwDataRate = dwBytesPerSec;
  return ERROR_SUCCESS;
}

DWORD CMulticast::GetDataRate() {
  CLockGuard guard(&m_lock);
  return m_dwDataRate;
}

BOOL CMulticast::SetSndSimLoss(float fPercent) { return SetSimLoss(&m_pSndLoss, fPercent); }
BOOL CMulticast::SetRcvSimLoss(float fPercent) { return SetSimLoss(&m_pRcvLoss, fPercent); }

BOOL CMulticast::SetSimLoss(CSimLoss** ppLoss, float fPercent) {
  CLockGuard guard(&m_lock);
  if (fPercent == 0.0f) {
    delete *ppLoss;
    *ppLoss = nullptr;
    return TRUE;
  }
  if (*ppLoss != nullptr) {
    (*ppLoss)->SetLossPerc(fPercent);
    return TRUE;
  }
  *ppLoss = new (std::nothrow) CSimLoss(fPercent);
  return *ppLoss != nullptr ? TRUE : FALSE;
}

BOOL CMulticast::DropBy(CSimLoss* const* ppLoss) {
  CLockGuard guard(&m_lock);
  return *ppLoss != nullptr && (*ppLoss)->Drop() ? TRUE : FALSE;
}
