#include "korin/SendQueue.h"

#include <cstring>
#include <new>

#include "platform/DebugOutput.h"
#include "platform/Handle.h"

CSendReq::CSendReq(WSABUF* lpBuffers_, DWORD dwBufferCount_, DWORD* lpNumberOfBytesSent_,
                   OVERLAPPED* lpOverlapped_,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE_, DWORD* pSequence_,
                   BOOL fReliable_, int* pnResult_, int* pnError_)
    : lpBuffers(lpBuffers_),
      dwBufferCount(dwBufferCount_),
      lpNumberOfBytesSent(lpNumberOfBytesSent_),
      lpOverlapped(lpOverlapped_),
      lpCompletionROUTINE(lpCompletionROUTINE_),
      pSequence(pSequence_),
      fReliable(fReliable_),
      pnResult(pnResult_),
      pnError(pnError_),
      m_fValid(FALSE) {
  // Only the event form of completion exists here.
  m_fValid = ORV_ASSERT(lpBuffers != NULL) && ORV_ASSERT(dwBufferCount > 0) &&
             ORV_ASSERT(dwBufferCount == 1) && ORV_ASSERT(lpNumberOfBytesSent != NULL) &&
             ORV_ASSERT(lpOverlapped != NULL || lpCompletionROUTINE != NULL) &&
             ORV_ASSERT(lpOverlapped != NULL && lpOverlapped->hEvent != NULL) &&
             ORV_ASSERT(!fReliable || pSequence != NULL) && ORV_ASSERT(pnResult != NULL) &&
             ORV_ASSERT(pnError != NULL);
}

CSendReq* CSendReq::Create(const BYTE* pBuf, DWORD dwLen, BOOL fReliable, HANDLE hEvent,
                           std::shared_ptr<tSendOutcome>* ppOutcome) {
  std::unique_ptr<CSendReq> pReq(new (std::nothrow) CSendReq());
  if (pReq == nullptr) return nullptr;
  try {
    pReq->m_pOutcome = std::make_shared<tSendOutcome>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  pReq->m_pPayload.reset(new (std::nothrow) BYTE[dwLen > 0 ? dwLen : 1]);
  if (pReq->m_pPayload == nullptr) return nullptr;
  if (dwLen > 0) std::memcpy(pReq->m_pPayload.get(), pBuf, dwLen);
  tSendOutcome* pOutcome = pReq->m_pOutcome.get();
  pReq->m_Buffer = {dwLen, reinterpret_cast<char*>(pReq->m_pPayload.get())};
  pReq->m_Overlapped.hEvent = hEvent;
  pReq->lpBuffers = &pReq->m_Buffer;
  pReq->dwBufferCount = 1;
  pReq->lpNumberOfBytesSent = &pOutcome->dwBytesSent;
  pReq->lpOverlapped = &pReq->m_Overlapped;
  pReq->lpCompletionROUTINE = nullptr;
  pReq->pSequence = &pOutcome->dwSequence;
  pReq->fReliable = fReliable;
  pReq->pnResult = &pOutcome->nResult;
  pReq->pnError = &pOutcome->nError;
  pReq->m_fValid = hEvent != nullptr ? TRUE : FALSE;
  *ppOutcome = pReq->m_pOutcome;
  return pReq.release();
}

void CSendReq::Complete(int nResult, int nError, DWORD dwBytesSent) {
  *pnResult = nResult;
  *pnError = nError;
  *lpNumberOfBytesSent = dwBytesSent;
  if (m_pOutcome != nullptr) m_pOutcome->fDone.store(TRUE, std::memory_order_release);
  SetEvent(lpOverlapped->hEvent);
}

CSendQueue::CSendQueue() : m_hPacketReady(nullptr) {}

CSendQueue::~CSendQueue() {
  for (CSendReq* pReq : m_Requests) delete pReq;
  if (m_hPacketReady != nullptr) CloseHandle(m_hPacketReady);
}

BOOL CSendQueue::Init() {
  if (m_hPacketReady == nullptr) {
    m_hPacketReady =
        CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  }
  return m_hPacketReady != nullptr ? TRUE : FALSE;
}

BOOL CSendQueue::Add(CSendReq* pReq, BOOL fFront) {
  if (!ORV_ASSERT(pReq != NULL) || !ORV_ASSERT(m_hPacketReady != NULL)) return FALSE;
  CLockGuard guard(&m_Lock);
  try {
    if (fFront) {
      m_Requests.push_front(pReq);
    } else {
      m_Requests.push_back(pReq);
    }
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  SetEvent(m_hPacketReady);
  return TRUE;
}

BOOL CSendQueue::Push(CSendReq* pReq) { return Add(pReq, FALSE); }

BOOL CSendQueue::PushFront(CSendReq* pReq) { return Add(pReq, TRUE); }

BOOL CSendQueue::Pop(CSendReq** ppReq) {
  CLockGuard guard(&m_Lock);
  if (m_Requests.empty()) return FALSE;
  *ppReq = m_Requests.front();
  m_Requests.pop_front();
  if (m_Requests.empty()) ResetEvent(m_hPacketReady);
  return ORV_ASSERT(*ppReq != NULL) ? TRUE : FALSE;
}

BOOL CSendQueue::IsReady() {
  if (m_hPacketReady == nullptr) return FALSE;
  return WaitForSingleObject(m_hPacketReady, 0) == WAIT_OBJECT_0 ? TRUE : FALSE;
}
