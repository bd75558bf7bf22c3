#include "orvalo/SlideQueue.h"

#include <new>

#include "platform/DebugOutput.h"
#include "platform/Handle.h"

CSlideQueue::CSlideQueue(std::unique_ptr<ISlideProgress> pProgress)
    : m_pProgress(std::move(pProgress)) {
  if (Init()) {
    m_hDataEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  }
}

CSlideQueue::~CSlideQueue() {
  Clear();
  if (m_hDataEvent != NULL) CloseHandle(m_hDataEvent);
}

BOOL CSlideQueue::CanQueue() { return m_hDataEvent != NULL && !Replied(); }

BOOL CSlideQueue::AddRequest(const CRequest* pReq, BOOL fNext) {
  if (!ORV_ASSERT(pReq != NULL) || !CanQueue()) return FALSE;
  const DWORD dwSlide = pReq->GetSlide();
  CLockGuard guard(&m_lock);
  if (!fNext) {
    if (!SetSlide(dwSlide)) return FALSE;
  } else {
    if (m_dwNextSlide != 0) RemoveRequests(m_dwNextSlide);
    m_dwNextSlide = dwSlide;
  }
  std::unique_ptr<CRequest> pCopy = pReq->Clone();
  if (!pCopy) return FALSE;
  try {
    m_DataList.push_back(std::move(pCopy));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  SetEvent(m_hDataEvent);
  return TRUE;
}

BOOL CSlideQueue::AddCtrl(const tSlideInfo* pCtrl) {
  if (!ORV_ASSERT(pCtrl != NULL) || !CanQueue()) return FALSE;
  const tSlideInfo copy = *pCtrl;
  CLockGuard guard(&m_lock);
  if (copy.fDone) {
    Clear();
    m_dwHeartbeatMs.store(kDoneHeartbeatMs, std::memory_order_relaxed);
  } else {
    m_dwHeartbeatMs.store(kHeartbeatMs, std::memory_order_relaxed);
  }
  try {
    m_CtrlList.push_back(copy);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  SetEvent(m_hDataEvent);
  return TRUE;
}

BOOL CSlideQueue::SetSlide(DWORD dwSlide) {
  CLockGuard guard(&m_lock);
  if (dwSlide == m_dwSlide) return TRUE;
  BOOL fResult = TRUE;
  if (m_dwNextSlide != 0 && dwSlide == m_dwNextSlide) {
    fResult = RemoveRequests(m_dwSlide);
    m_dwEpoch += 1;
    m_dwValidEpochs = 2;
    if (m_fNextStarted) {
      m_nPercentThis = m_nPercentNext;
    } else {
      m_dwEpoch += 1;
      m_nPercentThis = 0;
    }
  } else {
    m_dwEpoch += 2;
    m_dwValidEpochs = 2;
    ClearData();
    m_nPercentThis = 0;
  }
  m_nPercentNext = 0;
  m_fNextStarted = FALSE;
  m_dwSlide = dwSlide;
  m_dwNextSlide = 0;
  return fResult;
}

BOOL CSlideQueue::RemoveRequests(DWORD dwSlide) {
  CLockGuard guard(&m_lock);
  const std::size_t nBefore = m_DataList.size();
  std::erase_if(m_DataList, [dwSlide](const auto& p) { return p->GetSlide() == dwSlide; });
  if (m_DataList.size() != nBefore) {
    std::erase_if(m_CtrlList, [dwSlide](const tSlideInfo& s) { return s.dwSlide == dwSlide; });
  }
  if (m_DataList.empty() && m_CtrlList.empty() && m_hDataEvent != NULL) ResetEvent(m_hDataEvent);
  return TRUE;
}

void CSlideQueue::ClearData() {
  CLockGuard guard(&m_lock);
  m_DataList.clear();
  m_nPercentThis = 0;
  m_nPercentNext = 0;
}

void CSlideQueue::ClearCtrl() {
  CLockGuard guard(&m_lock);
  m_CtrlList.clear();
}

void CSlideQueue::Clear() {
  ClearData();
  ClearCtrl();
}

void CSlideQueue::MakeStatePacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed,
                                  BOOL* pfReliable) {
  *pfReliable = FALSE;
  if (!ORV_ASSERT(dwMaxLen >= tPacketHeader::kSize)) {
    *pdwLenUsed = 0;
    return;
  }
  tPacketHeader* pHeader = tPacketHeader::Of(pPacket);
  pHeader->Clear();
  pHeader->SetTag(orvalo::kTagHeartbeat);
  pHeader->SetType(orvalo::kPacketTypeState);
  pHeader->SetFirst(TRUE);
  CLockGuard guard(&m_lock);
  PackSlideInfo(m_Current, pHeader);
  *pdwLenUsed = tPacketHeader::kSize;
}

DWORD CSlideQueue::GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed, DWORD* pEpoch,
                                 DWORD* pValidEpochs, BOOL* pfReliable, DWORD dwRepairsQueued) {
  if (m_hReq == NULL || m_hDataEvent == NULL) return 1;
  if (m_pProgress) m_pProgress->SetRepairs(dwRepairsQueued);
  const HANDLE ahWait[2] = {m_hReq, m_hDataEvent};
  const DWORD dwWait = WaitForMultipleObjects(2, ahWait, FALSE, GetHeartbeatMs());
  if (dwWait == WAIT_TIMEOUT) {
    CLockGuard guard(&m_lock);
    *pEpoch = m_dwEpoch;
    *pValidEpochs = m_dwValidEpochs;
    MakeStatePacket(pPacket, dwMaxLen, pdwLenUsed, pfReliable);  // the heartbeat
    return 0;
  }
  if (dwWait != WAIT_OBJECT_0 + 1) return 1;  // stop requested, or the wait failed
  return NextDataPacket(pPacket, dwMaxLen, pdwLenUsed, pEpoch, pValidEpochs, pfReliable);
}

DWORD CSlideQueue::NextDataPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed,
                                  DWORD* pEpoch, DWORD* pValidEpochs, BOOL* pfReliable) {
  {
    CLockGuard guard(&m_lock);
    *pEpoch = m_dwEpoch;
    *pValidEpochs = m_dwValidEpochs;
    if (!m_CtrlList.empty()) {
      m_Current = m_CtrlList.front();
      m_CtrlList.pop_front();
    }
    // A backlog of states is worked off with state packets alone.
    if (m_CtrlList.size() > kMaxCtrlBacklog) {
      MakeStatePacket(pPacket, dwMaxLen, pdwLenUsed, pfReliable);
      return 0;
    }
    if (m_DataList.empty()) {
      MakeStatePacket(pPacket, dwMaxLen, pdwLenUsed, pfReliable);
    } else {
      CRequest* pReq = m_DataList.front().get();
      BOOL fMore = FALSE;
      if (!pReq->GetNextPacket(pPacket, dwMaxLen, pdwLenUsed, &fMore) || *pdwLenUsed == 0) {
        // Dropped; the next call finds the lists and resets the event.
        m_DataList.pop_front();
        MakeStatePacket(pPacket, dwMaxLen, pdwLenUsed, pfReliable);
        return 0;
      }
      const int nPercent = pReq->PercentSent();
      if (m_dwNextSlide != 0 && pReq->GetSlide() == m_dwNextSlide) {
        if (nPercent != -1) m_nPercentNext = nPercent;
        if (!m_fNextStarted) {
          // The next slide's first packet opens a new epoch; the current
          // slide's and the previous one stay valid.
          m_fNextStarted = TRUE;
          m_dwEpoch += 1;
          m_dwValidEpochs = 3;
          *pEpoch = m_dwEpoch;
          *pValidEpochs = m_dwValidEpochs;
        }
      } else if (nPercent != -1) {
        m_nPercentThis = nPercent;
      }
      if (!fMore) m_DataList.pop_front();
      PackSlideInfo(m_Current, tPacketHeader::Of(pPacket));
      *pfReliable = TRUE;
    }
    if (m_DataList.empty() && m_CtrlList.empty()) ResetEvent(m_hDataEvent);
  }
  PostPercents();
  return 0;
}

void CSlideQueue::PostPercents() {
  if (!m_pProgress) return;
  int nThis, nNext;
  {
    CLockGuard guard(&m_lock);
    nThis = m_nPercentThis;
    nNext = m_nPercentNext;
  }
  m_pProgress->SetThisSlide(nThis);
  m_pProgress->SetNextSlide(nNext);
}

DWORD CSlideQueue::GetEpoch() {
  CLockGuard guard(&m_lock);
  return m_dwEpoch;
}
DWORD CSlideQueue::GetValidEpochs() {
  CLockGuard guard(&m_lock);
  return m_dwValidEpochs;
}
DWORD CSlideQueue::GetSlide() {
  CLockGuard guard(&m_lock);
  return m_dwSlide;
}
DWORD CSlideQueue::GetNextSlide() {
  CLockGuard guard(&m_lock);
  return m_dwNextSlide;
}
tSlideInfo CSlideQueue::GetCurrentState() {
  CLockGuard guard(&m_lock);
  return m_Current;
}
std::size_t CSlideQueue::GetDataCount() {
  CLockGuard guard(&m_lock);
  return m_DataList.size();
}
std::size_t CSlideQueue::GetCtrlCount() {
  CLockGuard guard(&m_lock);
  return m_CtrlList.size();
}
