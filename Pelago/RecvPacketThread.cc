#include "Pelago/RecvPacketThread.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <new>
#include <thread>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoRecv.h"
#include "platform/DebugOutput.h"
#include "platform/Thread.h"
#include "platform/Tick.h"

CRecvPacketThread::CRecvPacketThread()
    : m_dwPayloadLen(0),
      m_dwBuffLen(0),
      m_Buffs(nullptr),
      m_nBuffs(0),
      m_nNextBuff(0),
      m_Pending{},
      m_nPending(0),
      m_dwDropped(0),
      m_dwStray(0),
      m_pPacketQueue(nullptr),
      m_pEventQueue(nullptr),
      m_dwSourceId(0),
      m_pRecv(nullptr),
      m_fWantBuffers(false),
      m_hFreed(CreateEvent(platform::ResetPolicy::Automatic, platform::InitialState::NotSignaled)),
      m_fLearning(false),
      m_fRelearnPending(false),
      m_dwWindowHits(0),
      m_dwWindowMisses(0),
      m_dwNapUs(kMinNapUs * 4) {}

CRecvPacketThread::~CRecvPacketThread() {
  Stop(5000);
  Cleanup();
  if (m_hFreed != nullptr) CloseHandle(m_hFreed);
}

void CRecvPacketThread::BuffersFreed() {
  if (m_fWantBuffers.exchange(false) && m_hFreed != nullptr) SetEvent(m_hFreed);
}

void CRecvPacketThread::WaitForBuffers(DWORD dwMs) {
  if (m_nBuffs == 0 || m_hFreed == nullptr) return;
  const DWORD dwStart = GetTickCount();
  for (;;) {
    m_fWantBuffers.store(true);
    // Looked at after the flag is up, so that a buffer given back meanwhile
    // is seen here or signalled.
    if (m_Buffs[m_nNextBuff].IsFree()) break;
    const DWORD dwSpent = GetTickCount() - dwStart;
    if (dwSpent >= dwMs) break;
    WaitForSingleObject(m_hFreed, dwMs - dwSpent);
  }
  m_fWantBuffers.store(false);
}

void CRecvPacketThread::Cleanup() {
  m_Port.Close();
  m_nPending = 0;
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
  m_fLearning = m_dwPayloadLen == 0;
  m_fRelearnPending = false;
  m_dwWindowHits = m_dwWindowMisses = 0;
  return 0;
}

void CRecvPacketThread::JudgeLength(bool fHit) {
  if (!m_fLearning || m_dwPayloadLen == 0) return;
  ++(fHit ? m_dwWindowHits : m_dwWindowMisses);
  if (m_dwWindowHits + m_dwWindowMisses < kRelearnWindow) return;
  if (m_dwWindowHits * 3 < m_dwWindowMisses) m_fRelearnPending = true;
  m_dwWindowHits = m_dwWindowMisses = 0;
}

void CRecvPacketThread::RelearnIfDue() {
  if (!m_fRelearnPending) return;
  // The receive thread may still hold entries of the ring.
  for (int i = 0; i < m_nBuffs; ++i)
    if (!m_Buffs[i].IsFree()) return;
  DebugTrace("CRecvPacketThread: payload length %lu not in use - learning again\n",
             static_cast<unsigned long>(m_dwPayloadLen));
  delete[] m_Buffs;
  m_Buffs = nullptr;
  m_nBuffs = 0;
  m_nNextBuff = 0;
  m_dwPayloadLen = 0;
  m_dwBuffLen = m_Spare.GetCapacity();
  m_fRelearnPending = false;
}

DWORD CRecvPacketThread::BuildRing(int nBuffs) {
  if (!ORV_ASSERT(m_Buffs == NULL) || !ORV_ASSERT(m_dwBuffLen > 0)) return ERROR_INVALID_PARAMETER;
  if (nBuffs <= 0 || nBuffs > static_cast<int>(std::size(m_Pending))) {
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

void CRecvPacketThread::PaceNap(int nRead, bool fRingFull) {
  // Aim at a nap in which about kNapFill of the ring's buffers fill: the
  // longer the nap, the fewer wake-ups of both threads per datagram; a nap
  // that found the ring full was too long.
  if (fRingFull) {
    m_dwNapUs = m_dwNapUs * 3 / 4;
  } else {
    const DWORD dwWant = std::max<DWORD>(1, static_cast<DWORD>(m_nBuffs) * kNapFill / 8);
    const DWORD dwGot = static_cast<DWORD>(std::max(1, nRead));
    m_dwNapUs = std::clamp<DWORD>(m_dwNapUs * dwWant / dwGot, m_dwNapUs / 2, m_dwNapUs * 3 / 2);
  }
  m_dwNapUs = std::clamp(m_dwNapUs, kMinNapUs, kMaxNapUs);
}

DWORD CRecvPacketThread::ThreadProc() {
  if (!ORV_ASSERT(m_pEventQueue != NULL) || !ORV_ASSERT(m_pPacketQueue != NULL)) return 61;
  DWORD dwExit = 5;
  bool fFlowing = false;  // the last batch found datagrams
  bool fHeld = false;
  int nFill = -1;  // the socket's fill (percent) when last looked at while held
  DWORD dwStopSeenAt = GetTickCount();
  m_dwNapUs = kMinNapUs * 4;
  for (;;) {
    // While datagrams flow, the stop request (a system call) is looked at
    // now and then only.
    const DWORD dwNow = GetTickCount();
    if ((!fFlowing && !fHeld) || dwNow - dwStopSeenAt >= kStopLookMs) {
      dwStopSeenAt = dwNow;
      if (StopRequested()) {
        DebugTrace("CRecvPacketThread asked to die - quiting\n");
        break;
      }
    }
    const bool fNapped = !fHeld && fFlowing;
    if (fHeld) {
      // The emptier the socket was, the longer this look may wait.
      WaitForBuffers(nFill >= 0 && nFill < kSpillFillPercent / 3 ? kHeldLongLookMs : kHeldLookMs);
    } else if (fFlowing) {
      std::this_thread::sleep_for(std::chrono::microseconds(m_dwNapUs));
    } else {
      BOOL fRead = FALSE, fWrite = FALSE;
      m_Port.WaitReady(0, 500000, &fRead, &fWrite, TRUE, FALSE);
      if (!fRead) continue;
    }
    // A datagram waits in the socket for a ring buffer while the socket has
    // room: waiting there loses nothing. Once it is nearly full the oldest
    // go into the spare, a few at a look, so that the socket keeps moving
    // behind a slow consumer and no more is lost than it cannot hold. Where
    // its fill is unknown, a ring's worth goes at once.
    int nSpill = 0;
    if (fHeld) {
      nFill = m_Port.GetRcvBufferFill();
      if (nFill < 0) {
        nSpill = m_nBuffs;
      } else if (nFill >= kSpillFillPercent) {
        nSpill = std::max(1, m_nBuffs / 4);
      }
    }
    int nRead = 0;
    bool fRingFull = false;
    DWORD dwErr = ReceiveBatch(nSpill, &nRead, &fRingFull);
    if (dwErr == 0) dwErr = Publish();
    if (dwErr == 0) {
      if (fNapped) PaceNap(nRead, fRingFull);
      if (!fRingFull) nFill = -1;
      // A nap that filled the ring leaves the rest in the socket for the
      // next, shorter one; the thread waits for buffers only once the receive
      // thread has not given any back by then.
      fHeld = fRingFull && (nRead == 0 || !fNapped);
      fFlowing = nRead > 0;
      continue;
    }
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
  bool fRead = false;
  DWORD dwErr = ReceiveDatagram(true, &fRead);
  return dwErr != 0 ? dwErr : Publish();
}

DWORD CRecvPacketThread::ReceiveBatch(int nSpill, int* pnRead, bool* pfRingFull) {
  *pnRead = 0;
  *pfRingFull = false;
  const bool fSpare = nSpill > 0;
  for (int nReads = 0;; ++nReads) {
    RelearnIfDue();
    if (fSpare && m_nBuffs > 0 && nReads >= nSpill) return 0;
    if (m_nBuffs > 0 && !m_Buffs[m_nNextBuff].IsFree()) {
      *pfRingFull = true;
      if (!fSpare) return 0;
    }
    bool fDrained = false;
    int nGot = 0;
    DWORD dwErr = 0;
    if (fSpare || m_nBuffs == 0) {
      bool fRead = false;
      dwErr = ReceiveDatagram(fSpare, &fRead);
      nGot = fRead ? 1 : 0;
    } else {
      dwErr = ReceiveIntoRing(&nGot, &fDrained);
    }
    *pnRead += nGot;
    if (dwErr != 0 || nGot == 0 || fDrained) return dwErr;
  }
}

DWORD CRecvPacketThread::Publish() {
  if (m_nPending == 0) return 0;
  if (!m_pPacketQueue->EnqueueAll(m_Pending, m_nPending)) {
    // The buffers go back to the ring; the datagrams are lost.
    for (int i = 0; i < m_nPending; ++i) m_Pending[i]->SetFree(TRUE);
    m_nPending = 0;
    ORV_ASSERT(FALSE);
    return ERROR_GEN_FAILURE;
  }
  m_nPending = 0;
  return 0;
}

DWORD CRecvPacketThread::ReceiveDatagram(bool fSpare, bool* pfRead) {
  *pfRead = false;
  RelearnIfDue();
  CPacketQueueEntry* pEntry = &m_Spare;
  if (m_nBuffs > 0 && m_Buffs[m_nNextBuff].IsFree()) {
    ORV_ASSERT(m_nNextBuff < m_nBuffs);
    pEntry = &m_Buffs[m_nNextBuff];
  } else if (m_nBuffs > 0 && !fSpare) {
    return 0;
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
  *pfRead = true;
  const bool fRing = pEntry != &m_Spare;
  const DWORD dwErr =
      Accept(pEntry, dwBytes, m_Port.GetLastWSAError() == static_cast<int>(WSAEMSGSIZE));
  // A ring buffer that holds an accepted datagram moves the ring on.
  if (dwErr == 0 && fRing && !pEntry->IsFree()) m_nNextBuff = (m_nNextBuff + 1) % m_nBuffs;
  return dwErr;
}

DWORD CRecvPacketThread::ReceiveIntoRing(int* pnRead, bool* pfDrained) {
  *pnRead = 0;
  *pfDrained = true;
  // The free buffers from the next one on, in ring order.
  WSABUF bufs[kMaxRing][2];
  WSABUF* ppBufs[kMaxRing];
  CPacketQueueEntry* pEntries[kMaxRing];
  int nFree = 0;
  for (int i = m_nNextBuff; nFree < m_nBuffs && m_Buffs[i].IsFree(); i = (i + 1) % m_nBuffs) {
    CPacketQueueEntry* pEntry = &m_Buffs[i];
    if (!ORV_ASSERT(pEntry->GetBuffer() != NULL)) return ERROR_GEN_FAILURE;
    bufs[nFree][0].buf = reinterpret_cast<char*>(pEntry->GetHeader()->m_Bytes);
    bufs[nFree][0].len = tPacketHeader::kSize;
    bufs[nFree][1].buf = reinterpret_cast<char*>(pEntry->GetBuffer());
    bufs[nFree][1].len = pEntry->GetCapacity();
    ppBufs[nFree] = bufs[nFree];
    pEntries[nFree++] = pEntry;
  }
  if (nFree == 0) return 0;
  DWORD dwBytes[kMaxRing];
  BOOL fTooLong[kMaxRing];
  int nGot = 0;
  if (m_Port.RecvBatch(ppBufs, 2, nFree, dwBytes, fTooLong, &nGot) != 0) {
    const int nErr = m_Port.GetLastWSAError();
    if (nErr == static_cast<int>(WSAEWOULDBLOCK)) return 0;  // nothing was waiting
    return static_cast<DWORD>(nErr);
  }
  *pnRead = nGot;
  *pfDrained = nGot < nFree;  // fewer than it had room for
  // The accepted datagrams keep to consecutive buffers from the next one on,
  // as the ring hands them out: one that follows a refused datagram trades
  // places with it.
  int nUsed = 0;
  for (int i = 0; i < nGot; ++i) {
    if (!IsSessionDatagram(pEntries[i], dwBytes[i], fTooLong[i] != FALSE)) continue;
    if (i != nUsed) pEntries[nUsed]->SwapContents(pEntries[i]);
    CPacketQueueEntry* pEntry = pEntries[nUsed++];
    pEntry->SetDataLen(m_dwPayloadLen);
    pEntry->SetFree(FALSE);
    m_Pending[m_nPending++] = pEntry;
  }
  m_nNextBuff = (m_nNextBuff + nUsed) % m_nBuffs;
  return 0;
}

bool CRecvPacketThread::IsSessionDatagram(CPacketQueueEntry* pEntry, DWORD dwBytes, bool fTooLong) {
  if (dwBytes == 0) {
    // Too long for the buffers: not of the learned length. Its header came
    // in all the same, so that one of the session's counts against the length.
    if (fTooLong) {
      m_pRecv->SetStray(++m_dwStray);
      if (pEntry->GetHeader()->GetSourceId() == m_dwSourceId) JudgeLength(false);
    }
    return false;
  }
  const tPacketHeader* pHeader = pEntry->GetHeader();
  if (dwBytes <= tPacketHeader::kSize || pHeader->GetSourceId() != m_dwSourceId) {
    m_pRecv->SetStray(++m_dwStray);
    return false;
  }
  const bool fLengthFits = m_dwPayloadLen == 0 || dwBytes == m_dwPayloadLen + tPacketHeader::kSize;
  JudgeLength(fLengthFits);
  if (!fLengthFits) {
    m_pRecv->SetStray(++m_dwStray);
    return false;
  }
  return true;
}

DWORD CRecvPacketThread::Accept(CPacketQueueEntry* pEntry, DWORD dwBytes, bool fTooLong) {
  if (!IsSessionDatagram(pEntry, dwBytes, fTooLong)) return 0;
  const tPacketHeader* pHeader = pEntry->GetHeader();
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
  m_Pending[m_nPending++] = pEntry;
  return 0;
}
