#include "Pelago/RecvThread.h"

#include <iterator>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoRecv.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Tick.h"

namespace {

// A sequence number this far behind the expected one means the sender
// started again: follow it.
constexpr DWORD kSeqRestartGap = 1024;
// How often the stop request is looked at while datagrams flow.
constexpr DWORD kStopLookMs = 20;

}  // namespace

CRecvThread::CRecvThread()
    : m_pRecv(nullptr),
      m_pEventQueue(nullptr),
      m_pPacketQueue(nullptr),
      m_fStopAfterFile(FALSE),
      m_fFinished(FALSE),
      m_fSeqKnown(false),
      m_dwExpectedSeq(0),
      m_dwReceived(0),
      m_dwLost(0),
      m_dwOutOfOrder(0),
      m_dwRedundant(0),
      m_dwDecoded(0),
      m_dwFilesStarted(0),
      m_dwFilesRcvd(0),
      m_dwFilesDone(0) {}

CRecvThread::~CRecvThread() {
  Stop(5000);
  Release();
}

void CRecvThread::Release() {
  if (m_pPacketThread != nullptr) m_pPacketThread->Stop(5000);
  // Queued entries belong to the ring that goes with the packet thread.
  if (m_pPacketQueue != nullptr) m_pPacketQueue->Flush(FALSE);
  m_pPacketThread.reset();
  m_pFiles.reset();
}

DWORD CRecvThread::Init(CPelagoRecv* pRecv, CPelagoSession* pSession,
                        CMcastQueue<CPelagoEvent>* pEventQueue,
                        CMcastQueue<CPacketQueueEntry>* pPacketQueue, const char* szSaveDir,
                        int fStopAfterFile) {
  if (!ORV_ASSERT(pRecv != NULL) || !ORV_ASSERT(pSession != NULL) ||
      !ORV_ASSERT(pEventQueue != NULL) || !ORV_ASSERT(pPacketQueue != NULL) ||
      !ORV_ASSERT(szSaveDir != NULL))
    return ERROR_INVALID_PARAMETER;
  Release();
  m_pRecv = pRecv;
  m_pEventQueue = pEventQueue;
  m_pPacketQueue = pPacketQueue;
  m_SaveDir = szSaveDir;
  m_fStopAfterFile = fStopAfterFile ? TRUE : FALSE;
  m_fFinished = FALSE;
  m_Complete.clear();
  m_pFiles.reset(new (std::nothrow) CRecvFiles(m_SaveDir));
  m_pPacketThread.reset(new (std::nothrow) CRecvPacketThread);
  if (m_pFiles == nullptr || m_pPacketThread == nullptr) {
    Release();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  DWORD dwErr = m_pPacketThread->Init(pSession, pRecv, pEventQueue, pPacketQueue, TRUE);
  if (dwErr != 0) Release();
  return dwErr;
}

void CRecvThread::TrackSeqNo(DWORD dwSeqNo) {
  ++m_dwReceived;
  if (!m_fSeqKnown) {
    m_fSeqKnown = true;
  } else if (dwSeqNo < m_dwExpectedSeq) {
    ++m_dwOutOfOrder;
    DebugTrace("RecvPacket: Out of order seqno: got %d, expected %d\n", static_cast<int>(dwSeqNo),
               static_cast<int>(m_dwExpectedSeq));
    if (m_dwExpectedSeq - dwSeqNo <= kSeqRestartGap) return;
  } else {
    m_dwLost += dwSeqNo - m_dwExpectedSeq;
  }
  m_dwExpectedSeq = dwSeqNo + 1;
}

void CRecvThread::HandleDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen) {
  TakeDatagram(header, pPayload, dwLen);
  WriteTaken();
  ReportStats();
  FinishComplete();
}

void CRecvThread::WriteTaken() {
  if (m_pFiles == nullptr) return;
  DWORD dwFileId = 0;
  const DWORD dwErr = m_pFiles->FlushWrites(&dwFileId);
  if (dwErr == 0) return;
  DebugTrace("CRecvThread: FILE %lu failed with %lu\n", static_cast<unsigned long>(dwFileId),
             static_cast<unsigned long>(dwErr));
  PostError(m_pEventQueue, dwErr);
}

void CRecvThread::TakeDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen) {
  if (m_pFiles == nullptr || m_fFinished) return;
  TrackSeqNo(header.GetSeqNo());
  CRecvFiles::tOutcome out = m_pFiles->TakeDatagram(header, pPayload, dwLen);
  if (out.fRedundant) ++m_dwRedundant;
  if (out.fStarted) {
    m_pRecv->SetFilesStarted(++m_dwFilesStarted);
    PostFileStart(m_pEventQueue, out.dwFileId, out.dwTotalLen);
    DebugTrace("CRecvThread: FILE %lu Started Length: %lu!\n",
               static_cast<unsigned long>(out.dwFileId),
               static_cast<unsigned long>(out.dwTotalLen));
  }
  if (out.dwError != 0) {
    DebugTrace("CRecvThread: FILE %lu failed with %lu\n", static_cast<unsigned long>(out.dwFileId),
               static_cast<unsigned long>(out.dwError));
    PostError(m_pEventQueue, out.dwError);
    return;
  }
  if (out.fComplete) {
    try {
      m_Complete.push_back(out.dwFileId);
    } catch (const std::bad_alloc&) {
      // Not finished now; the file map forgets it as it forgets others.
      PostError(m_pEventQueue, ERROR_NOT_ENOUGH_MEMORY);
    }
  }
}

void CRecvThread::ReportStats() {
  m_pRecv->SetRecvStats(m_dwReceived, m_dwLost, m_dwOutOfOrder, m_dwRedundant);
}

void CRecvThread::FinishComplete() {
  // Pump may complete more files: they join the list behind.
  for (std::size_t i = 0; i < m_Complete.size() && !m_fFinished; ++i) {
    CRecvFiles::tOutcome out = m_pFiles->FinishFile(m_Complete[i], [this] { Pump(); });
    if (!out.fFinished) continue;
    m_pRecv->SetFilesRcvd(++m_dwFilesRcvd);
    m_dwDecoded += out.dwDecoded;
    m_pRecv->SetDecoded(m_dwDecoded);
    if (out.dwError != 0) {
      DebugTrace("CRecvThread: FILE %lu failed with %lu\n",
                 static_cast<unsigned long>(out.dwFileId), static_cast<unsigned long>(out.dwError));
      PostError(m_pEventQueue, out.dwError);
      continue;
    }
    m_pRecv->SetFilesDone(++m_dwFilesDone);
    PostFileComplete(m_pEventQueue, out.dwFileId, out.file);
    DebugTrace("CRecvThread: FILE %lu COMPLETED!\n", static_cast<unsigned long>(out.dwFileId));
    if (m_fStopAfterFile) {
      m_fFinished = TRUE;
      DebugTrace("RecvThread: finished rcv - killing rcv packet thread!\n");
      if (m_pPacketThread != nullptr) m_pPacketThread->Stop(5000);
      PostComplete(m_pEventQueue);
      GetReqReply()->Request();
    }
  }
  m_Complete.clear();
}

void CRecvThread::Pump() {
  if (m_pPacketQueue == nullptr || m_pPacketThread == nullptr) return;
  CPacketQueueEntry* batch[kMaxBatch];
  int nBatch = 0;
  if (m_pPacketQueue->GetAll(batch, kMaxBatch, &nBatch, 0, nullptr) !=
      CMcastQueue<CPacketQueueEntry>::kItem)
    return;
  for (int i = 0; i < nBatch; ++i) {
    TakeDatagram(*batch[i]->GetHeader(), batch[i]->GetBuffer(), batch[i]->GetDataLen());
    batch[i]->SetFree(TRUE);
  }
  m_pPacketThread->BuffersFreed();
}

DWORD CRecvThread::ThreadProc() {
  if (m_pPacketThread == nullptr || m_pFiles == nullptr) {
    PostFatalError(m_pEventQueue, ERROR_SERVICE_DEPENDENCY_FAIL);
    return 61;
  }
  DWORD dwErr = m_pPacketThread->Start();
  if (dwErr != 0) {
    PostFatalError(m_pEventQueue, dwErr);
    Release();
    return 61;
  }
  DWORD dwExit = 5;
  CPacketQueueEntry* batch[kMaxBatch];
  DWORD dwStopSeenAt = GetTickCount();
  for (;;) {
    int nBatch = 0;
    int r = m_pPacketQueue->GetAll(batch, kMaxBatch, &nBatch, 500, GetReqReply());
    if (r == CMcastQueue<CPacketQueueEntry>::kTimedOut) continue;
    if (r == CMcastQueue<CPacketQueueEntry>::kStopRequested) break;
    bool fBroken = r != CMcastQueue<CPacketQueueEntry>::kItem;
    for (int i = 0; !fBroken && i < nBatch; ++i) fBroken = batch[i] == nullptr;
    if (fBroken) {
      for (int i = 0; i < nBatch; ++i)
        if (batch[i] != nullptr) batch[i]->SetFree(TRUE);
      DebugTrace("CRecvThread: ERROR in packet queue - quiting\n");
      // The caller polls for events: it must learn that none will come.
      PostFatalError(m_pEventQueue, ERROR_SERVICE_DEPENDENCY_FAIL);
      dwExit = ERROR_SERVICE_DEPENDENCY_FAIL;
      break;
    }
    for (int i = 0; i < nBatch; ++i) {
      CPacketQueueEntry* pEntry = batch[i];
      TakeDatagram(*pEntry->GetHeader(), pEntry->GetBuffer(), pEntry->GetDataLen());
      pEntry->SetFree(TRUE);  // its payload is taken: back to the packet thread
    }
    m_pPacketThread->BuffersFreed();
    WriteTaken();
    ReportStats();
    FinishComplete();
    // A queued entry wins over the stop request, so look at it here too,
    // now and then (each look is a system call).
    const DWORD dwNow = GetTickCount();
    if (dwNow - dwStopSeenAt >= kStopLookMs) {
      dwStopSeenAt = dwNow;
      if (StopRequested()) break;
    }
  }
  Release();
  return dwExit;
}
