#include "korin/KORINreceiver.h"

#include <algorithm>
#include <new>

#include "platform/DebugOutput.h"
#include "platform/Handle.h"

CKORINreceiver::CKORINreceiver(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nNackBackoffMax)
    : m_nK(0), m_dwNackMinMs(dwNackMinMs), m_dwNackMaxMs(dwNackMaxMs),
      m_nNackBackoffMax(nNackBackoffMax), m_hComplete(nullptr) {}

CKORINreceiver::~CKORINreceiver() { Close(); }

BOOL CKORINreceiver::Open(int nK, const char* szDottedAddr, WORD wPort, int nTTL) {
  if (nK <= 0 || nK > KORIN_MAX_K) return FALSE;
  m_nK = nK;
  m_hComplete = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  if (m_hComplete != nullptr) {
    CMulticast* pPort = m_Port.Create();
    if (pPort != nullptr && pPort->Open(szDottedAddr, wPort, nTTL, FALSE) != SOCKET_ERROR) {
      const int nPacketBytes = std::min(pPort->GetMaxRcvLen(), pPort->GetMaxSndLen());
      m_pQueue.reset(new (std::nothrow) CRecvQueue(nK));
      if (m_pQueue != nullptr && m_pQueue->Init(static_cast<DWORD>(nPacketBytes))) {
        m_pIOThread.reset(new (std::nothrow) CRcvrIOThread(nK));
        if (m_pIOThread != nullptr &&
            m_pIOThread->Start(m_dwNackMinMs, m_dwNackMaxMs, m_nNackBackoffMax, m_pQueue.get(),
                               pPort)) {
          return TRUE;
        }
      }
    }
  }
  Close();
  return FALSE;
}

void CKORINreceiver::Close() {
  m_pIOThread.reset();  // stops the thread before what it uses goes
  m_pQueue.reset();
  m_Port.Release();
  if (m_hComplete != nullptr) {
    CloseHandle(m_hComplete);
    m_hComplete = nullptr;
  }
}

int CKORINreceiver::Receive(BYTE* pBuf, DWORD dwBufLen, DWORD* pdwBytesReceived,
                            DWORD* pdwSequence, DWORD* pdwLowWater, BOOL* pfReliable) {
  if (!ORV_ASSERT(m_pQueue != NULL)) return SOCKET_ERROR;
  WSABUF buffer = {dwBufLen, reinterpret_cast<char*>(pBuf)};
  BYTE from[16] = {};  // the sender's address: nothing fills it
  int nFromLen = sizeof from;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = m_hComplete;
  BOOL fPending = FALSE;
  if (!m_pQueue->Recv(&buffer, 1, pdwBytesReceived, reinterpret_cast<sockaddr*>(from),
                      &nFromLen, &overlapped, nullptr, pdwSequence, pdwLowWater, pfReliable,
                      &fPending)) {
    return SOCKET_ERROR;
  }
  if (!fPending) return 0;
  if (WaitForSingleObject(m_hComplete, INFINITE) != WAIT_OBJECT_0) return SOCKET_ERROR;
  ResetEvent(m_hComplete);
  return 0;
}

int CKORINreceiver::GetMaxPacketSize() {
  CMulticast* pPort = m_Port.Get();
  if (!ORV_ASSERT(pPort != NULL)) return 0;
  return pPort->GetMaxRcvLen();
}

int CKORINreceiver::Wait(long lSec, long lUsec) {
  if (!ORV_ASSERT(m_pQueue != NULL)) return 0;
  const DWORD dwMs =
      lSec == -1 ? INFINITE : static_cast<DWORD>(lSec * 1000 + lUsec / 1000);
  return m_pQueue->Wait(dwMs);
}

DWORD CKORINreceiver::GetForgedDropped() {
  return m_pIOThread ? m_pIOThread->GetForgedDropped() : 0;
}

DWORD CKORINreceiver::GetPacketsDropped() { return m_pQueue ? m_pQueue->GetPacketsDropped() : 0; }

DWORD CKORINreceiver::GetGroupsUndecodable() {
  return m_pQueue ? m_pQueue->GetGroupsUndecodable() : 0;
}
