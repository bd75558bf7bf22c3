#include "Pelago/PelagoRecv.h"

#include <cstring>
#include <new>

#include "Pelago/RecvThread.h"
#include "platform/DebugOutput.h"

CPelagoRecv::CPelagoRecv()
    : m_pEventQueue(nullptr),
      m_pPacketQueue(nullptr),
      m_Stats{},
      m_szSaveDir{},
      m_pLock(new CLock),
      m_pRecvThread(nullptr),
      m_fStopped(false),
      m_fSimLossPerc(0.0f) {}

CPelagoRecv::~CPelagoRecv() {
  Cleanup();
  delete m_pLock;
}

unsigned long CPelagoRecv::Init(CPelagoSession* pSession, const char* szSaveDir,
                                int fStopAfterFile) {
  if (pSession == nullptr || szSaveDir == nullptr) return ERROR_INVALID_PARAMETER;
  Cleanup();
  {
    CLockGuard guard(m_pLock);
    m_Stats = tPelagoRecvStats{};
    m_Stats.PayloadLen = static_cast<DWORD>(pSession->GetPayloadLen());
  }
  std::size_t n = ::strnlen(szSaveDir, sizeof m_szSaveDir - 1);
  std::memcpy(m_szSaveDir, szSaveDir, n);
  m_szSaveDir[n] = '\0';
  m_pEventQueue = new (std::nothrow) CMcastQueue<CPelagoEvent>;
  m_pPacketQueue = new (std::nothrow) CMcastQueue<CPacketQueueEntry>;
  m_pRecvThread = new (std::nothrow) CRecvThread;
  if (m_pEventQueue == nullptr || m_pPacketQueue == nullptr || m_pRecvThread == nullptr) {
    Cleanup();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_Session = *pSession;
  DWORD dwErr = m_pRecvThread->Init(this, &m_Session, m_pEventQueue, m_pPacketQueue, m_szSaveDir,
                                    fStopAfterFile);
  if (dwErr != 0) Cleanup();
  return dwErr;
}

unsigned long CPelagoRecv::StartPelagoRecv() {
  if (m_pRecvThread == nullptr) return ERROR_GEN_FAILURE;
  // A stopped receive has let go of its socket and its files.
  if (m_fStopped) return ERROR_NOT_INITIALIZED;
  return m_pRecvThread->Start();
}

void CPelagoRecv::StopPelagoRecv() {
  if (m_pRecvThread == nullptr) return;
  if (m_pRecvThread->IsRunning()) m_fStopped = true;
  m_pRecvThread->Stop(5000);
}

int CPelagoRecv::GetNextRecvEvent(CPelagoEvent* pEvent, unsigned long dwTimeoutMs) {
  if (!ORV_ASSERT(pEvent != NULL)) return ERROR_INVALID_PARAMETER;
  if (m_pEventQueue == nullptr) {
    pEvent->SetEventType(PELAGORE_FATAL_ERROR);
    pEvent->SetErrorCode(ERROR_SERVICE_DEPENDENCY_FAIL);
    return ERROR_SERVICE_DEPENDENCY_FAIL;
  }
  CPelagoEvent* pQueued = nullptr;
  int r = m_pEventQueue->Get(&pQueued, static_cast<DWORD>(dwTimeoutMs), nullptr);
  switch (r) {
    case CMcastQueue<CPelagoEvent>::kTimedOut:
      pEvent->SetEventType(PELAGORE_CONTINUE);
      return 0;
    case CMcastQueue<CPelagoEvent>::kItem:
      *pEvent = *pQueued;
      delete pQueued;
      return 0;
    case CMcastQueue<CPelagoEvent>::kStopRequested:
    case CMcastQueue<CPelagoEvent>::kError:
      pEvent->SetEventType(PELAGORE_FATAL_ERROR);
      pEvent->SetErrorCode(ERROR_SERVICE_DEPENDENCY_FAIL);
      return ERROR_SERVICE_DEPENDENCY_FAIL;
    default:
      pEvent->SetEventType(PELAGORE_FATAL_ERROR);
      pEvent->SetErrorCode(ERROR_GEN_FAILURE);
      return ERROR_GEN_FAILURE;
  }
}

void CPelagoRecv::GetRecvStats(tPelagoRecvStats* pStats) {
  if (!ORV_ASSERT(pStats != NULL)) return;
  CLockGuard guard(m_pLock);
  *pStats = m_Stats;
}

void CPelagoRecv::SetSimLoss(float fPercent) {
  CLockGuard guard(m_pLock);
  m_fSimLossPerc = fPercent;
}

float CPelagoRecv::GetSimLossPerc() {
  CLockGuard guard(m_pLock);
  return m_fSimLossPerc;
}

void CPelagoRecv::SetRecvStats(DWORD dwReceived, DWORD dwLost, DWORD dwOutOfOrder,
                               DWORD dwRedundant) {
  CLockGuard guard(m_pLock);
  m_Stats.RecvdCount = dwReceived;
  m_Stats.LostPackets = dwLost;
  m_Stats.OutOfOrderCount = dwOutOfOrder;
  m_Stats.RedundantCount = dwRedundant;
}

void CPelagoRecv::SetCounter(DWORD tPelagoRecvStats::*pField, DWORD dw) {
  CLockGuard guard(m_pLock);
  m_Stats.*pField = dw;
}

void CPelagoRecv::SetPayloadLen(DWORD dw) { SetCounter(&tPelagoRecvStats::PayloadLen, dw); }
void CPelagoRecv::SetStray(DWORD dw) { SetCounter(&tPelagoRecvStats::StrayCount, dw); }
void CPelagoRecv::SetDropped(DWORD dw) { SetCounter(&tPelagoRecvStats::Dropped, dw); }
void CPelagoRecv::SetDecoded(DWORD dw) { SetCounter(&tPelagoRecvStats::Decoded, dw); }
void CPelagoRecv::SetFilesRcvd(DWORD dw) { SetCounter(&tPelagoRecvStats::FilesRcvd, dw); }
void CPelagoRecv::SetFilesDone(DWORD dw) { SetCounter(&tPelagoRecvStats::FilesDone, dw); }
void CPelagoRecv::SetFilesStarted(DWORD dw) { SetCounter(&tPelagoRecvStats::FilesStarted, dw); }

void CPelagoRecv::Cleanup() {
  // The receive thread goes first, and with it its packet thread: after a
  // forced stop the packet thread still runs and may post to the queues.
  StopPelagoRecv();
  delete m_pRecvThread;
  m_pRecvThread = nullptr;
  if (m_pEventQueue != nullptr) m_pEventQueue->Flush(TRUE);
  delete m_pEventQueue;
  m_pEventQueue = nullptr;
  delete m_pPacketQueue;
  m_pPacketQueue = nullptr;
  m_fStopped = false;
}
