#include "korin/KORINsender.h"

#include <atomic>
#include <new>

#include "korin/SendQueue.h"
#include "korin/SndrIOThread.h"
#include "korin/Wire.h"
#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"

namespace {
std::atomic<BOOL> g_fLoopbackForTesting{FALSE};
}  // namespace

void CKORINsender::SetLoopbackForTesting(BOOL fLoopback) { g_fLoopbackForTesting = fLoopback; }

CKORINsender::CKORINsender()
    : m_nK(0), m_pPort(nullptr), m_dwHoldOffMs(0), m_hCompletion(nullptr) {}

CKORINsender::~CKORINsender() { Close(); }

BOOL CKORINsender::Open(int nK, const char* szDottedAddr, WORD wPort, int nTTL,
                        DWORD dwHoldOffMs) {
  if (nK < 1 || nK > KORIN_MAX_K) return FALSE;
  Close();  // a second Open starts afresh
  m_nK = nK;
  m_dwHoldOffMs = dwHoldOffMs;
  m_hCompletion = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  if (m_hCompletion != nullptr) {
    m_pPort = m_Port.Create();
    if (m_pPort != nullptr &&
        m_pPort->Open(szDottedAddr, wPort, nTTL, g_fLoopbackForTesting.load()) == 0) {
      m_pIOThread.reset(new (std::nothrow) CSndrIOThread);
      if (m_pIOThread && m_pIOThread->Init(nK, m_pPort, dwHoldOffMs)) return TRUE;
    }
  }
  Close();
  return FALSE;
}

void CKORINsender::Close() {
  m_pIOThread.reset();  // stops the thread before the port goes
  m_pPort = nullptr;
  m_Port.Release();
  if (m_hCompletion != nullptr) {
    CloseHandle(m_hCompletion);
    m_hCompletion = nullptr;
  }
}

DWORD CKORINsender::GetLowWater() { return m_pIOThread ? m_pIOThread->GetLowWater() : 0; }

DWORD CKORINsender::GetNextSequence() {
  return m_pIOThread ? m_pIOThread->GetSequence() + 1 : 0;
}

int CKORINsender::Send(const BYTE* pBuf, DWORD dwLen, DWORD* pdwSequence, BOOL fReliable) {
  if (!m_pIOThread || !ORV_ASSERT(!fReliable || pdwSequence != NULL) ||
      !ORV_ASSERT(pBuf != NULL || dwLen == 0)) {
    return SOCKET_ERROR;
  }
  // The request owns a copy of the payload and shares its outcome with this
  // call: should the wait fail, nothing of this frame is left to the thread.
  std::shared_ptr<tSendOutcome> pOutcome;
  CSendReq* pReq = CSendReq::Create(pBuf, dwLen, fReliable, m_hCompletion, &pOutcome);
  if (pReq == nullptr || !pReq->IsValid() || !m_pIOThread->QueueSend(pReq)) {
    delete pReq;
    return SOCKET_ERROR;
  }
  // The event may still carry the completion of a request whose wait failed.
  while (!pOutcome->fDone.load(std::memory_order_acquire)) {
    if (WaitForCompletion(m_hCompletion) != WAIT_OBJECT_0) return SOCKET_ERROR;
    ResetEvent(m_hCompletion);
  }
  if (fReliable && pOutcome->nResult != SOCKET_ERROR) *pdwSequence = pOutcome->dwSequence;
  return pOutcome->nResult;
}

DWORD CKORINsender::WaitForCompletion(HANDLE hEvent) {
  return WaitForSingleObject(hEvent, INFINITE);
}

int CKORINsender::SendUnreliable(const BYTE* pBuf, DWORD dwLen) {
  return Send(pBuf, dwLen, nullptr, FALSE);
}

DWORD CKORINsender::SetDataRate(DWORD dwBytesPerSec) {
  if (!ORV_ASSERT(m_pPort != NULL)) return ERROR_INVALID_PARAMETER;
  return m_pPort->SetDataRate(dwBytesPerSec);
}

DWORD CKORINsender::GetMaxPayload() {
  if (!ORV_ASSERT(m_pPort != NULL)) return 0;
  int nMax = m_pPort->GetMaxSndLen() - static_cast<int>(SRM_HEADER_LEN);
  if (!ORV_ASSERT(nMax > 0 && nMax <= 0xFFFF)) return 0;
  return static_cast<DWORD>(nMax);
}

BOOL CKORINsender::WaitForSendReady(long lSec, long lUsec) {
  if (!ORV_ASSERT(m_pPort != NULL)) return FALSE;
  BOOL fReadReady = FALSE;
  BOOL fWriteReady = FALSE;
  m_pPort->WaitReady(lSec, lUsec, &fReadReady, &fWriteReady, FALSE, TRUE);
  return fWriteReady;
}

DWORD CKORINsender::GetRepairsQueued() {
  return m_pIOThread ? m_pIOThread->GetRepairsQueued() : 0;
}

BOOL CKORINsender::SetLowWater(DWORD dwLowWater) {
  return m_pIOThread ? m_pIOThread->SetLowWater(dwLowWater) : FALSE;
}

DWORD CKORINsender::GetKeysDropped() { return m_pIOThread ? m_pIOThread->GetKeysDropped() : 0; }
