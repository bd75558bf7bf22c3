#include "korin/EpochSender.h"

#include "platform/DebugOutput.h"

CEpochSender::CEpochSender()
    : m_dwLastEpoch(kFirstEpoch),
      m_dwValidEpochs(1),
      m_Ring{},
      m_nNextIndex(0),
      m_nOldestIndex(0),
      m_nHeld(0) {}

BOOL CEpochSender::SetLowWater(DWORD) { return FALSE; }

void CEpochSender::RecordEpoch(DWORD dwEpoch) {
  m_Ring[m_nNextIndex] = {GetNextSequence(), dwEpoch};
  m_nNextIndex = (m_nNextIndex + 1) % kRingSize;
  if (m_nHeld == kRingSize) {
    m_nOldestIndex = (m_nOldestIndex + 1) % kRingSize;  // the oldest was overwritten
  } else {
    ++m_nHeld;
  }
  m_dwLastEpoch = dwEpoch;
}

BOOL CEpochSender::SetEpoch(DWORD dwEpoch, DWORD dwValidEpochs) {
  if (dwEpoch < m_dwLastEpoch || dwValidEpochs == 0 ||
      dwValidEpochs > static_cast<DWORD>(kRingSize)) {
    ORV_ASSERT(FALSE);
    return FALSE;
  }
  if (dwEpoch > m_dwLastEpoch || (m_nHeld == 0 && dwEpoch == kFirstEpoch)) {
    RecordEpoch(dwEpoch);
  } else if (dwValidEpochs > m_dwValidEpochs) {
    return TRUE;  // same epoch: the count only shrinks
  }
  m_dwValidEpochs = dwValidEpochs;

  DWORD dwThreshold = dwEpoch > dwValidEpochs ? dwEpoch - dwValidEpochs + 1 : 0;
  // The oldest held epoch that is still valid; the newest always is.
  int i = m_nOldestIndex;
  int nSeen = 0;
  while (nSeen < m_nHeld && m_Ring[i].dwEpoch < dwThreshold) {
    i = (i + 1) % kRingSize;
    ++nSeen;
  }
  if (!ORV_ASSERT(nSeen < m_nHeld)) return TRUE;
  DWORD dwFirst = m_Ring[i].dwFirstSequence;
  if (dwFirst > GetLowWater()) return CKORINsender::SetLowWater(dwFirst);
  return TRUE;
}
