#include "korin/NACK.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "platform/Random.h"
#include "platform/Tick.h"

namespace {

// Shifts beyond this would overflow; real caps are a handful.
constexpr int kMaxBackoffShift = 16;

}  // namespace

CNACK::CNACK(int nK, DWORD dwMinMs, DWORD dwMaxMs, int nBackoffCap, const tNACKRange& Range,
             CFECGroup* pGroup)
    : m_nK(nK), m_dwDueMs(0), m_nRetries(0), m_Range(Range), m_FirstGroup(nK),
      m_LastGroup(nK), m_fEmpty(FALSE), m_dwMinMs(dwMinMs), m_dwMaxMs(dwMaxMs),
      m_nBackoffCap(nBackoffCap) {
  ORV_ASSERT(Range.FirstItem.Key <= Range.LastItem.Key);
  ORV_ASSERT(Range.FirstItem.Count > 0);
  ORV_ASSERT(Range.FirstItem.Key < Range.LastItem.Key || Range.LastItem.Count == 0);
  m_FirstGroup.SetFECKey(Range.FirstItem.Key);
  m_LastGroup.SetFECKey(Range.LastItem.Key);
  if (pGroup != nullptr && pGroup->GetNumCached() > 0) {
    if (pGroup->GetFECKey() == Range.FirstItem.Key) {
      pGroup->Move(&m_FirstGroup);
    } else if (pGroup->GetFECKey() == Range.LastItem.Key) {
      pGroup->Move(&m_LastGroup);
    }
  }
  platform::SeedRandom(GetTickCount());
  Arm();
}

CNACK::CNACK(const CNACK& from, const tNACKRange& range)
    : m_Timer(from.m_Timer), m_nK(from.m_nK), m_dwDueMs(from.m_dwDueMs),
      m_nRetries(from.m_nRetries), m_Range(range), m_FirstGroup(from.m_nK),
      m_LastGroup(from.m_nK), m_fEmpty(FALSE), m_dwMinMs(from.m_dwMinMs),
      m_dwMaxMs(from.m_dwMaxMs), m_nBackoffCap(from.m_nBackoffCap) {
  m_FirstGroup.SetFECKey(range.FirstItem.Key);
  m_LastGroup.SetFECKey(range.LastItem.Key);
}

void CNACK::Arm() {
  const DWORD dwSpanMs = m_dwMaxMs > m_dwMinMs ? m_dwMaxMs - m_dwMinMs : 0;
  DWORD dwDelayMs = m_dwMinMs;
  if (dwSpanMs > 0) dwDelayMs += static_cast<DWORD>(platform::Random()) % dwSpanMs;
  dwDelayMs <<= std::min(m_nRetries, kMaxBackoffShift);
  m_nRetries = std::min(m_nRetries + 1, std::max(m_nBackoffCap, 0));
  m_dwDueMs = m_Timer.Elapsed() + dwDelayMs;
  DebugTrace("NACK[%lu.%d-%lu.%d]cached[%d,%d] timer %lu\n",
             static_cast<unsigned long>(m_Range.FirstItem.Key), m_Range.FirstItem.Count,
             static_cast<unsigned long>(m_Range.LastItem.Key), m_Range.LastItem.Count,
             m_FirstGroup.GetNumCached(), m_LastGroup.GetNumCached(),
             static_cast<unsigned long>(dwDelayMs));
}

BOOL CNACK::Store(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                  std::unique_ptr<CFECGroup>* ppGroup, std::unique_ptr<CNACK>* ppSplit) {
  const DWORD dwKey = header.Key;
  const DWORD dwK = static_cast<DWORD>(m_nK);
  if (dwKey > m_Range.FirstItem.Key && dwKey < m_Range.LastItem.Key) {
    const tNACKRange tail = {{dwKey, static_cast<BYTE>(m_nK)}, m_Range.LastItem};
    std::unique_ptr<CNACK> pSplit(new (std::nothrow) CNACK(*this, tail));
    if (pSplit == nullptr) return FALSE;
    m_LastGroup.Move(&pSplit->m_LastGroup);
    m_Range.LastItem.Key = dwKey - dwK;
    m_Range.LastItem.Count =
        m_Range.LastItem.Key == m_Range.FirstItem.Key ? 0 : static_cast<BYTE>(m_nK);
    m_LastGroup.SetFECKey(m_Range.LastItem.Key);
    const BOOL fResult = pSplit->StoreAtEnd(header, pPayload, dwLen, ppGroup);
    *ppSplit = std::move(pSplit);
    return fResult;
  }
  return StoreAtEnd(header, pPayload, dwLen, ppGroup);
}

BOOL CNACK::StoreAtEnd(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                       std::unique_ptr<CFECGroup>* ppGroup) {
  const BOOL fFirst = header.Key == m_Range.FirstItem.Key;
  if (!fFirst && header.Key != m_Range.LastItem.Key) return TRUE;
  CFECGroup& group = fFirst ? m_FirstGroup : m_LastGroup;
  BYTE& bCount = fFirst ? m_Range.FirstItem.Count : m_Range.LastItem.Count;
  BOOL fNotStored = TRUE;
  if (!group.AddPacket(pPayload, dwLen, header, &fNotStored)) return FALSE;
  if (fNotStored && m_nK != 1) return TRUE;
  if (bCount > 0) --bCount;
  if (group.Full()) {
    // A full group decodes whatever the count says; waiting for more would
    // stall, since a full group stores nothing more.
    bCount = 0;
  } else if (m_nK > 1 && bCount + group.GetNumCached() < m_nK &&
             header.Index == group.GetHighestIndex()) {
    ++bCount;
    DebugTrace("Count++ recent group NACK[%lu.%d-%lu.%d]%d,%d\n",
               static_cast<unsigned long>(m_Range.FirstItem.Key), m_Range.FirstItem.Count,
               static_cast<unsigned long>(m_Range.LastItem.Key), m_Range.LastItem.Count,
               bCount, group.GetNumCached());
  }
  if (bCount > 0) return TRUE;
  if (group.GetNumCached() > 0) {
    if (!group.Full()) {
      DebugTrace("%lu.%d 1st count 0, not full\n", static_cast<unsigned long>(header.Key),
                 group.GetNumCached());
    }
    std::unique_ptr<CFECGroup> pDone(new (std::nothrow) CFECGroup(m_nK));
    if (pDone == nullptr) return FALSE;
    group.Move(pDone.get());
    *ppGroup = std::move(pDone);
  }
  if (fFirst) {
    ShrinkFirst();
  } else {
    ShrinkLast();
  }
  return TRUE;
}

void CNACK::ShrinkFirst() {
  const DWORD dwK = static_cast<DWORD>(m_nK);
  if (m_Range.FirstItem.Key >= m_Range.LastItem.Key || m_Range.LastItem.Count == 0) {
    m_fEmpty = TRUE;
    return;
  }
  m_Range.FirstItem.Key += dwK;
  if (m_Range.FirstItem.Key >= m_Range.LastItem.Key) {
    m_Range.FirstItem = m_Range.LastItem;
    m_Range.LastItem.Count = 0;
    m_LastGroup.Move(&m_FirstGroup);
    m_FirstGroup.SetFECKey(m_Range.FirstItem.Key);
    m_LastGroup.SetFECKey(m_Range.LastItem.Key);
  } else {
    m_Range.FirstItem.Count = static_cast<BYTE>(m_nK);
    m_FirstGroup.Clear();
    m_FirstGroup.SetFECKey(m_Range.FirstItem.Key);
  }
}

void CNACK::ShrinkLast() {
  const DWORD dwK = static_cast<DWORD>(m_nK);
  m_Range.LastItem.Key -= dwK;
  if (m_Range.LastItem.Key <= m_Range.FirstItem.Key) {
    m_Range.LastItem.Key = m_Range.FirstItem.Key;
    m_Range.LastItem.Count = 0;
  } else {
    m_Range.LastItem.Count = static_cast<BYTE>(m_nK);
  }
  m_LastGroup.Clear();
  m_LastGroup.SetFECKey(m_Range.LastItem.Key);
}
