#include "Pelago/RecvPacketThread.h"

#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoRecv.h"
#include "platform/DebugOutput.h"

CRecvPacketThread::CRecvPacketThread()
    : m_dwPayloadLen(0),
      m_dwBuffLen(0),
      m_Buffs(nullptr),
      m_nBuffs(0),
      m_nNextBuff(0),
      m_dwDropped(0),
      m_dwStray(0),
      m_pPacketQueue(nullptr),
      m_pEventQueue(nullptr),
      m_dwSourceId(0),
      m_pRecv(nullptr) {}

CRecvPacketThread::~CRecvPacketThread() {
  Stop(5000);
  Cleanup();
}

void CRecvPacketThread::Cleanup() {
  m_Port.Close();
  delete[] m_Buffs;
  m_Buffs = nullptr;
  m_nBuffs = 0;
  m_Spare.Release();
}

DWORD CRecvPacketThread::Init(CPelagoSession* pSession, CPelagoRecv* pRecv,
                              CMcastQueue<CPelagoEvent>* pEventQueue,
                              CMcastQueue<CPacketQueueEntry>* pPacketQueue, BOOL fLoopback) {
  if (!ORV_ASSERT(pSession != NULL) || !ORV_ASSERT(pRecv != NULL) ||
      !ORV_ASSERT(pEventQueue != NULL) || !ORV_ASSERT(pPacketQueue != NULL))
    return ERROR_INVALID_PARAMETER;
  m_pRecv = pRecv;
  m_pEventQueue = pEventQueue;
  m_pPacketQueue = pPacketQueue;
  Cleanup();
  if (!m_Port.SetRcvSimLoss(pRecv->GetSimLossPerc())) {
    DebugTrace("SetRcvSimLoss failed\n");
    return ERROR_GEN_FAILURE;
  }
  if (m_Port.OpenRcv(pSession->GetMaddr(), pSession->GetPort(), fLoopback) != 0) {
    DebugTrace("Init: failed bind/connect %d\n", m_Port.GetLastWSAError());
    return static_cast<DWORD>(m_Port.GetLastWSAError());
  }
  m_dwSourceId = static_cast<DWORD>(pSession->GetSourceId());
  m_dwPayloadLen = static_cast<DWORD>(pSession->GetPayloadLen());
  if (m_dwPayloadLen != 0) {
    pRecv->SetPayloadLen(m_dwPayloadLen);
    m_dwBuffLen = m_dwPayloadLen;
    DWORD dwErr = BuildRing(static_cast<int>(pSession->GetK()));
    if (dwErr != 0) return dwErr;
  } else {
    m_dwBuffLen = static_cast<DWORD>(m_Port.GetMaxRcvLen());
  }
  DWORD dwErr = m_Spare.Init(m_dwBuffLen);
  if (dwErr != 0) return dwErr;
  m_nNextBuff = 0;
  m_dwDropped = 0;
  m_dwStray = 0;
  return 0;
}

DWORD CRecvPacketThread::BuildRing(int nBuffs) {
  if (!ORV_ASSERT(m_Buffs == NULL) || !ORV_ASSERT(m_dwBuffLen > 0)) return ERROR_INVALID_PARAMETER;
  if (nBuffs <= 0) {
    ORV_ASSERT(FALSE);
    return ERROR_INVALID_PARAMETER;
  }
  auto* pRing = new (std::nothrow) CPacketQueueEntry[nBuffs];
  if (pRing == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  for (int i = 0; i < nBuffs; ++i) {
    DWORD dwErr = pRing[i].Init(m_dwBuffLen);
    if (dwErr != 0) {
      delete[] pRing;
      return dwErr;
    }
  }
  m_Buffs = pRing;
  m_nBuffs = nBuffs;
  m_nNextBuff = 0;
  return 0;
}

DWORD CRecvPacketThread::ThreadProc() {
  if (!ORV_ASSERT(m_pEventQueue != NULL) || !ORV_ASSERT(m_pPacketQueue != NULL)) return 61;
  DWORD dwExit = 5;
  for (;;) {
    if (StopRequested()) {
      DebugTrace("CRecvPacketThread asked to die - quiting\n");
      break;
    }
    BOOL fRead = FALSE, fWrite = FALSE;
    m_Port.WaitReady(0, 500000, &fRead, &fWrite, TRUE, FALSE);
    if (!fRead) continue;
    DWORD dwErr = ReceiveOne();
    if (dwErr == 0) continue;
    ORV_ASSERT(FALSE);
    DebugTrace("CRecvPacketThread: ERROR - quiting\n");
    if (!PostFatalError(m_pEventQueue, dwErr)) ORV_ASSERT(FALSE);
    dwExit = 61;
    break;
  }
  // The socket closes here; the ring stays until the owner, which hands the
  // queued entries back first, cleans up.
  m_Port.Close();
  return dwExit;
}

DWORD CRecvPacketThread::ReceiveOne(DWORD dwWaitMs) {
  if (dwWaitMs != 0) {
    BOOL fRead = FALSE, fWrite = FALSE;
    m_Port.WaitReady(static_cast<long>(dwWaitMs / 1000), static_cast<long>(dwWaitMs % 1000) * 1000,
                     &fRead, &fWrite, TRUE, FALSE);
    if (!fRead) return 0;
  }
  CPacketQueueEntry* pEntry = &m_Spare;
  if (m_nBuffs > 0 && m_Buffs[m_nNextBuff].IsFree()) {
    ORV_ASSERT(m_nNextBuff < m_nBuffs);
    pEntry = &m_Buffs[m_nNextBuff];
  }
  WSABUF bufs[2];
  bufs[0].buf = reinterpret_cast<char*>(pEntry->GetHeader()->m_Bytes);
  bufs[0].len = tPacketHeader::kSize;
  bufs[1].buf = reinterpret_cast<char*>(pEntry->GetBuffer());
  bufs[1].len = pEntry->GetCapacity();
  if (!ORV_ASSERT(bufs[1].buf != NULL)) return ERROR_GEN_FAILURE;
  DWORD dwBytes = 0;
  if (m_Port.RecvBuffersFrom(bufs, 2, &dwBytes, nullptr, nullptr, nullptr) != 0) {
    const int nErr = m_Port.GetLastWSAError();
    if (nErr == static_cast<int>(WSAEWOULDBLOCK)) return 0;  // nothing was waiting
    return static_cast<DWORD>(nErr);
  }
  if (dwBytes == 0) {
    // Too long for the buffers: not the session's.
    if (m_Port.GetLastWSAError() == static_cast<int>(WSAEMSGSIZE)) m_pRecv->SetStray(++m_dwStray);
    return 0;
  }
  const tPacketHeader* pHeader = pEntry->GetHeader();
  if (dwBytes <= tPacketHeader::kSize ||
      pHeader->GetSourceId() != m_dwSourceId ||
      (m_dwPayloadLen != 0 && dwBytes != m_dwPayloadLen + tPacketHeader::kSize)) {
    m_pRecv->SetStray(++m_dwStray);
    return 0;
  }
  if (m_dwPayloadLen == 0) {
    // Learning: this datagram sets payload length and ring size, and goes.
    m_dwPayloadLen = dwBytes - tPacketHeader::kSize;
    m_dwBuffLen = m_dwPayloadLen;
    DWORD dwErr = BuildRing(static_cast<int>(pHeader->GetK()));
    if (dwErr != 0) return dwErr;
    m_pRecv->SetPayloadLen(m_dwPayloadLen);
  }
  pEntry->SetDataLen(m_dwPayloadLen);
  if (pEntry == &m_Spare) {
    m_pRecv->SetDropped(++m_dwDropped);
    return 0;
  }
  pEntry->SetFree(FALSE);
  if (!m_pPacketQueue->Enqueue(pEntry)) {
    pEntry->SetFree(TRUE);
    ORV_ASSERT(FALSE);
    return ERROR_GEN_FAILURE;
  }
  m_nNextBuff = (m_nNextBuff + 1) % m_nBuffs;
  return 0;
}
