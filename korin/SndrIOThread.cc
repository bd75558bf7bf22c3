#include "korin/SndrIOThread.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "korin/NackIntake.h"
#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

CSndrIOThread::CSndrIOThread()
    : m_hThread(nullptr),
      m_dwThreadId(0),
      m_nK(1),
      m_pPort(nullptr),
      m_hReadEvent(nullptr),
      m_hWriteEvent(nullptr),
      m_dwResendBufferSize(0),
      m_LowWater(0),
      m_KeyLowWater(0),
      m_Sequence(0),
      m_fRepairBlocked(FALSE),
      m_bRepairHeader{},
      m_dwRepairPayloadBytes(0) {}

CSndrIOThread::~CSndrIOThread() {
  Stop();
  if (m_hReadEvent != nullptr) {
    if (m_pPort != nullptr) m_pPort->RcvEventSelect(m_hReadEvent, 0);
    WSACloseEvent(m_hReadEvent);
  }
  if (m_hWriteEvent != nullptr) {
    if (m_pPort != nullptr) m_pPort->SndEventSelect(m_hWriteEvent, 0);
    WSACloseEvent(m_hWriteEvent);
  }
}

BOOL CSndrIOThread::Init(int nK, CMulticast* pPort, DWORD dwHoldOffMs) {
  if (!ORV_ASSERT(nK > 0) || !ORV_ASSERT(nK <= KORIN_MAX_K) || !ORV_ASSERT(pPort != NULL) ||
      !ORV_ASSERT(m_hThread == nullptr)) {
    return FALSE;
  }
  m_nK = nK;
  m_pPort = pPort;
  m_LowWater = static_cast<DWORD>(nK);
  m_KeyLowWater = static_cast<DWORD>(nK);
  m_Sequence = static_cast<DWORD>(nK) - 1;
  ORV_ASSERT(m_KeyLowWater == m_LowWater);
  if (!m_SendQueue.Init()) return FALSE;

  int nPacketSize = pPort->GetMaxSndLen();
  if (!ORV_ASSERT(nPacketSize > static_cast<int>(SRM_HEADER_LEN))) return FALSE;
  m_dwResendBufferSize = static_cast<DWORD>(nPacketSize);
  m_pResendBuffer.reset(new (std::nothrow) BYTE[m_dwResendBufferSize]);
  if (!m_pResendBuffer || !m_Stop.Init()) return FALSE;

  m_pCacheResendList.reset(new (std::nothrow) CCacheResendList);
  if (!m_pCacheResendList || !m_pCacheResendList->Init(nK, dwHoldOffMs)) return FALSE;
  if (m_FEC.Init(nK, nPacketSize) != 0) return FALSE;

  m_hReadEvent = WSACreateEvent();
  m_hWriteEvent = WSACreateEvent();
  if (m_hReadEvent == nullptr || m_hWriteEvent == nullptr) return FALSE;
  if (pPort->RcvEventSelect(m_hReadEvent, FD_READ) == SOCKET_ERROR ||
      pPort->SndEventSelect(m_hWriteEvent, FD_WRITE) == SOCKET_ERROR) {
    return FALSE;
  }
  m_hThread = CreateThread(&CSndrIOThread::ThreadProc, this, &m_dwThreadId);
  return m_hThread != nullptr ? TRUE : FALSE;
}

void CSndrIOThread::Stop() {
  if (m_hThread == nullptr) return;
  m_Stop.StopWorker();
  // The reply is the thread's last act; wait until it has really returned.
  WaitForSingleObject(m_hThread, INFINITE);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
}

BOOL CSndrIOThread::QueueSend(CSendReq* pReq) {
  if (m_hThread == nullptr) return FALSE;
  return m_SendQueue.Push(pReq);
}

BOOL CSndrIOThread::SetLowWater(DWORD dwLowWater) {
  CLockGuard guard(&m_LowWaterLock);
  DWORD dwCurrent = m_LowWater.load();
  if (dwLowWater < dwCurrent) return FALSE;
  if (dwLowWater == dwCurrent) return TRUE;
  DWORD dwKeyLowWater = SEQ_TO_KEY(dwCurrent, m_nK);  // lags one step behind
  m_LowWater = dwLowWater;
  InterlockedExchange(&m_KeyLowWater, dwKeyLowWater);
  if (m_pCacheResendList) m_pCacheResendList->Purge(dwKeyLowWater);
  return TRUE;
}

DWORD CSndrIOThread::GetRepairsQueued() const {
  return m_pCacheResendList ? m_pCacheResendList->GetRepairsQueued() : 0;
}

DWORD CSndrIOThread::GetKeysDropped() const {
  return m_pCacheResendList ? m_pCacheResendList->GetKeysDropped() : 0;
}

DWORD CSndrIOThread::ThreadProc(LPVOID pParam) {
  static_cast<CSndrIOThread*>(pParam)->Run();
  return 0;
}

void CSndrIOThread::Run() {
  for (;;) {
    BOOL fBusy = m_SendQueue.IsReady() || m_pCacheResendList->HasRepairs() || m_fRepairBlocked;
    // At a low rate the wait for credit is long: it is waited here, where a
    // stop and NACKs are heard, rather than asleep in the send, which keeps
    // only the last few milliseconds (it sleeps more precisely).
    const DWORD dwCreditMs = fBusy ? m_pPort->GetSendWaitMs() : 0;
    if (dwCreditMs > kSendSleepMs) {
      HANDLE hWait[2] = {m_Stop.GetReqHandle(), m_hReadEvent};
      DWORD dwResult =
          WaitForMultipleObjects(2, hWait, FALSE, std::min(dwCreditMs - kSendSleepMs, kWaitMs));
      if (m_Stop.Requested()) break;
      if (dwResult == WAIT_OBJECT_0 + 1) {
        WSANETWORKEVENTS events{};
        m_pPort->RcvEnumNetworkEvents(m_hReadEvent, &events);
        ReadNACK();
      } else if (!ORV_ASSERT(dwResult == WAIT_TIMEOUT)) {
        Sleep(10);  // a failing wait must not spin
      }
      continue;
    }
    HANDLE hBusy[3] = {m_Stop.GetReqHandle(), m_hReadEvent, m_hWriteEvent};
    HANDLE hIdle[4] = {m_Stop.GetReqHandle(), m_hReadEvent, m_SendQueue.GetPacketReadyEvent(),
                       m_pCacheResendList->GetRepairReadyEvent()};
    DWORD dwResult = fBusy ? WaitForMultipleObjects(3, hBusy, FALSE, kWaitMs)
                           : WaitForMultipleObjects(4, hIdle, FALSE, kWaitMs);
    if (m_Stop.Requested()) break;
    if (dwResult == WAIT_TIMEOUT) continue;
    if (!ORV_ASSERT(dwResult < WAIT_OBJECT_0 + 4)) {
      Sleep(10);  // a failing wait must not spin
      continue;
    }
    if (dwResult == WAIT_OBJECT_0 + 1) {
      WSANETWORKEVENTS events{};
      m_pPort->RcvEnumNetworkEvents(m_hReadEvent, &events);
      ReadNACK();
    }
    // The idle set only chooses the busy set for the next round.
    if (fBusy) Write();
  }
  FailQueuedSends();
  m_Stop.Reply();
}

void CSndrIOThread::ReadNACK() {
  BYTE bNack[NACK_PACKET_MAX_LEN];
  int nBytes = m_pPort->Recv(bNack, sizeof bNack);
  // Errors (a too-long datagram, nothing waiting) and 0 bytes are ignored.
  if (nBytes <= 0) return;
  HandleNACK(m_pCacheResendList.get(), m_nK, m_KeyLowWater.load(), bNack,
             static_cast<DWORD>(nBytes));
}

void CSndrIOThread::Write() {
  CSendReq* pReq = nullptr;
  if (m_SendQueue.Pop(&pReq)) {
    SendData(pReq);
    return;
  }
  if (!m_fRepairBlocked) {
    tSRMHeader header;
    if (!m_pCacheResendList->NextRepair(m_pResendBuffer.get(), m_dwResendBufferSize, &m_FEC,
                                        &header, &m_dwRepairPayloadBytes)) {
      return;  // purged meanwhile, or the coder refused
    }
    DebugTrace("Resending key# %lu index# %d\n", static_cast<unsigned long>(header.Key),
               header.Index);
    EncodeSRMHeader(header, m_bRepairHeader);
  }
  SendRepair();
}

void CSndrIOThread::SendRepair() {
  WSABUF bufs[2] = {{SRM_HEADER_LEN, reinterpret_cast<char*>(m_bRepairHeader)},
                    {m_dwRepairPayloadBytes, reinterpret_cast<char*>(m_pResendBuffer.get())}};
  DWORD dwSent = 0;
  if (m_pPort->SendBuffers(bufs, 2, &dwSent) != SOCKET_ERROR) {
    m_fRepairBlocked = FALSE;
  } else if (m_pPort->GetLastWSAError() == static_cast<int>(WSAEWOULDBLOCK)) {
    WSANETWORKEVENTS events{};
    m_pPort->SndEnumNetworkEvents(m_hWriteEvent, &events);
    m_fRepairBlocked = TRUE;
  } else {
    m_fRepairBlocked = FALSE;  // dropped: receivers ask again
  }
}

void CSndrIOThread::SendData(CSendReq* pReq) {
  DWORD dwPayload = 0;
  for (DWORD i = 0; i < pReq->dwBufferCount; ++i) dwPayload += pReq->lpBuffers[i].len;
  if (dwPayload > m_dwResendBufferSize - SRM_HEADER_LEN) {  // above GetMaxPayload
    pReq->Complete(SOCKET_ERROR, static_cast<int>(WSAEMSGSIZE), 0);
    delete pReq;
    return;
  }
  std::unique_ptr<WSABUF[]> pBufs(new (std::nothrow) WSABUF[pReq->dwBufferCount + 1]);
  if (!pBufs) {
    pReq->Complete(SOCKET_ERROR, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY), 0);
    delete pReq;
    return;
  }
  DWORD dwSequence = pReq->fReliable ? m_Sequence.load() + 1 : m_Sequence.load();
  tSRMHeader header = MakeDataHeader(pReq->fReliable, dwSequence, m_nK, m_KeyLowWater.load(),
                                     static_cast<WORD>(dwPayload));
  BYTE bHeader[SRM_HEADER_LEN];
  EncodeSRMHeader(header, bHeader);
  pBufs[0] = {SRM_HEADER_LEN, reinterpret_cast<char*>(bHeader)};
  for (DWORD i = 0; i < pReq->dwBufferCount; ++i) pBufs[i + 1] = pReq->lpBuffers[i];

  DWORD dwSent = 0;
  if (m_pPort->SendBuffers(pBufs.get(), pReq->dwBufferCount + 1, &dwSent) == SOCKET_ERROR) {
    int nError = m_pPort->GetLastWSAError();
    if (nError == static_cast<int>(WSAEWOULDBLOCK)) {
      WSANETWORKEVENTS events{};
      m_pPort->SndEnumNetworkEvents(m_hWriteEvent, &events);
      if (m_SendQueue.PushFront(pReq)) return;
      nError = static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    }
    pReq->Complete(SOCKET_ERROR, nError, 0);
    delete pReq;
    return;
  }
  DWORD dwTotal = SRM_HEADER_LEN + dwPayload;
  if (dwSent < dwTotal) {
    pReq->Complete(SOCKET_ERROR, static_cast<int>(WSAEMSGSIZE), dwSent);
    delete pReq;
    return;
  }
  if (pReq->fReliable) {
    DebugTrace("Sent REL [%lu.%d]\n", static_cast<unsigned long>(header.Key), header.Index);
    if (!m_pCacheResendList->Store(header, pReq->lpBuffers, pReq->dwBufferCount)) {
      DebugTrace("Couldn't cache [%lu.%d]\n", static_cast<unsigned long>(header.Key),
                 header.Index);
    }
    *pReq->pSequence = InterlockedIncrement(&m_Sequence);
  }
  pReq->Complete(static_cast<int>(dwTotal), 0, dwTotal);
  delete pReq;
}

void CSndrIOThread::FailQueuedSends() {
  CSendReq* pReq = nullptr;
  while (m_SendQueue.Pop(&pReq)) {
    pReq->Complete(SOCKET_ERROR, static_cast<int>(ERROR_OPERATION_ABORTED), 0);
    delete pReq;
  }
}
