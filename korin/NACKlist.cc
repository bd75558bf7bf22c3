#include "korin/NACKlist.h"

#include <algorithm>
#include <new>
#include <vector>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "platform/Tick.h"

namespace {

// Offsets within the payload (after the 19-byte data header) of a NACK.
constexpr DWORD kNumRangesAt = NACK_HEADER_LEN - SRM_HEADER_LEN;  // 17
constexpr DWORD kRangesAt = kNumRangesAt + 1;

}  // namespace

CNACKlist::CNACKlist(int nK)
    : m_nListK(nK),
      m_RecentGroup(nK),
      m_dwNackMinMs(0),
      m_dwNackMaxMs(0),
      m_nBackoffCap(0),
      m_pQueue(nullptr),
      m_fStarted(FALSE),
      m_dwLastInWindowTick(0),
      m_dwPrevLowWater(0),
      m_dwForgedDropped(0) {}

CNACKlist::~CNACKlist() = default;

BOOL CNACKlist::InitList(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nBackoffCap,
                         CRecvQueue* pQueue) {
  if (!ORV_ASSERT(pQueue != NULL)) return FALSE;
  m_dwNackMinMs = dwNackMinMs;
  m_dwNackMaxMs = dwNackMaxMs;
  m_nBackoffCap = nBackoffCap;
  m_pQueue = pQueue;
  InitStats(m_nListK);
  return TRUE;
}

const CNACK* CNACKlist::GetNACK(std::size_t i) const {
  if (i >= m_NACKs.size()) return nullptr;
  auto it = m_NACKs.begin();
  std::advance(it, i);
  return it->get();
}

BOOL CNACKlist::Intake(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                       BOOL* pfIgnore) {
  *pfIgnore = FALSE;
  if (!ORV_ASSERT(m_pQueue != NULL)) return FALSE;
  try {
    if (header.type == KORIN_TYPE_NACK) {
      *pfIgnore = TRUE;
      return IntakeNACK(pPayload, dwLen);
    }
    if (header.type != KORIN_TYPE_DATA) return FALSE;
    if (!IsPlausible(header, dwLen)) {
      ++m_dwForgedDropped;
      return FALSE;
    }
    DebugTrace("Got packet [%lu.%d] %s\n", static_cast<unsigned long>(header.Key),
               header.Index, header.fReliable ? "Rel" : "Unrel");
    if (IsBeyondWindow(header)) {
      ++m_dwForgedDropped;
      *pfIgnore = TRUE;
      return TRUE;
    }
    if (IsStale(header)) {
      *pfIgnore = TRUE;
      return TRUE;
    }
    tSRMHeader counted = header;
    TakeLowWater(&counted);
    const DWORD dwOldMaxSeq = GetMaxSeq();
    const DWORD dwOldMaxKey = GetMaxKey();
    UpdateStats(counted);
    m_fStarted = TRUE;
    if (header.Sequence > dwOldMaxSeq && !AddMissing(header, dwOldMaxSeq)) return FALSE;
    if (header.fReliable &&
        !TakeReliable(header, pPayload, dwLen, dwOldMaxSeq, dwOldMaxKey, pfIgnore)) {
      return FALSE;
    }
    if (header.Index >= m_nListK) *pfIgnore = TRUE;  // repairs are never delivered singly
    return TRUE;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

BOOL CNACKlist::IsPlausible(const tSRMHeader& header, DWORD dwLen) const {
  const int nK = m_nListK;
  // Every sender writes the key and index of the sequence (a parity repair
  // carries its key's last sequence), the length of a source packet's payload
  // (a parity repair's is the coder's length word), and a low water that is
  // a key no further than the sequence after this packet.
  const BOOL fIndexOk = header.Index < nK ? header.Index == SEQ_TO_INDEX(header.Sequence, nK) &&
                                                header.PayloadLen == dwLen
                                          : header.Sequence == KEY_LAST_SEQ(header.Key, nK);
  if (header.Key == SEQ_TO_KEY(header.Sequence, nK) && fIndexOk &&
      header.LowWater % static_cast<DWORD>(nK) == 0 &&
      ULONGLONG{header.LowWater} <= ULONGLONG{header.Sequence} + 1) {
    return TRUE;
  }
  DebugTrace("Implausible packet [%lu.%d] seq %lu low water %lu length %lu of %u\n",
             static_cast<unsigned long>(header.Key), header.Index,
             static_cast<unsigned long>(header.Sequence),
             static_cast<unsigned long>(header.LowWater), static_cast<unsigned long>(dwLen),
             header.PayloadLen);
  return FALSE;
}

BOOL CNACKlist::IsBeyondWindow(const tSRMHeader& header) {
  const DWORD dwNow = GetTickCount();
  if (!m_fStarted) {
    m_dwLastInWindowTick = dwNow;
    return FALSE;
  }
  const DWORD dwMaxSeq = GetMaxSeq();
  const BOOL fAhead = header.Sequence > dwMaxSeq && header.Sequence - dwMaxSeq > kSequenceWindow;
  const BOOL fBehind = header.Sequence < dwMaxSeq && dwMaxSeq - header.Sequence > kSequenceWindow;
  if (!fAhead && !fBehind) {
    m_dwLastInWindowTick = dwNow;
    return FALSE;
  }
  if (dwNow - m_dwLastInWindowTick >= kStartOverMs) {
    DebugTrace("Nothing in the window for %lu ms: starting over at %lu\n",
               static_cast<unsigned long>(dwNow - m_dwLastInWindowTick),
               static_cast<unsigned long>(header.Sequence));
    StartOver();
    m_dwLastInWindowTick = dwNow;
    return FALSE;
  }
  // Far behind is old or stale anyway; far ahead no sender could have got.
  if (!fAhead) return FALSE;
  DebugTrace("Ignoring packet beyond the window [%lu.%d]\n", static_cast<unsigned long>(header.Key),
             header.Index);
  return TRUE;
}

BOOL CNACKlist::IsStale(const tSRMHeader& header) {
  if (header.Sequence >= GetHighLowWater()) return FALSE;
  DebugTrace("Ignoring stale packet [%lu.%d]\n", static_cast<unsigned long>(header.Key),
             header.Index);
  return TRUE;
}

void CNACKlist::TakeLowWater(tSRMHeader* pHeader) {
  // One datagram alone cannot raise the low water: it takes effect when the
  // previous datagram carried it too (every packet of a sender carries it).
  const DWORD dwCarried = pHeader->LowWater;
  pHeader->LowWater = std::min(dwCarried, m_dwPrevLowWater);
  m_dwPrevLowWater = dwCarried;
  if (pHeader->LowWater > GetHighLowWater()) {
    PurgeBelow(pHeader->LowWater);
    m_pQueue->SetLowWater(pHeader->LowWater);
  }
}

void CNACKlist::StartOver() {
  ResetStats();
  m_NACKs.clear();
  m_RecentGroup.Clear();
  m_fStarted = FALSE;
  m_dwPrevLowWater = 0;
  m_pQueue->ResetLowWater(0);
}

BOOL CNACKlist::TakeReliable(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                             DWORD dwOldMaxSeq, DWORD dwOldMaxKey, BOOL* pfIgnore) {
  BOOL fHandled = FALSE;
  if (!HandleRecvRel(header, pPayload, dwLen, &fHandled)) return FALSE;
  if (fHandled) return TRUE;
  DebugTrace("Not handled by RecvRel\n");
  const BOOL fRecentEmpty = m_RecentGroup.GetNumCached() == 0;
  const BOOL fOld = header.Sequence == dwOldMaxSeq
                        ? (header.Key != m_RecentGroup.GetFECKey() || fRecentEmpty)
                        : header.Key < dwOldMaxKey;
  if (fOld) {
    *pfIgnore = TRUE;
    DebugTrace("Old packet - ignoring\n");
    return TRUE;
  }
  return StoreRecent(header, pPayload, dwLen);
}

BOOL CNACKlist::IntakeNACK(const BYTE* pPayload, DWORD dwLen) {
  if (dwLen <= kNumRangesAt) return TRUE;
  const DWORD dwFit = (dwLen - kRangesAt) / NACK_RANGE_LEN;
  const DWORD dwRanges = std::min<DWORD>({pPayload[kNumRangesAt], dwFit, NACK_MAX_RANGES});
  for (DWORD i = 0; i < dwRanges; ++i) {
    tNACKRange range;
    DecodeNACKRange(pPayload + kRangesAt + i * NACK_RANGE_LEN, &range);
    Suppress(range);
  }
  return TRUE;
}

BOOL CNACKlist::AddMissing(const tSRMHeader& header, DWORD dwOldMaxSeq) {
  const DWORD dwK = static_cast<DWORD>(m_nListK);
  const BOOL fCounted = header.fReliable && header.Index <= m_nListK;
  const DWORD dwLastSeq = fCounted ? header.Sequence - 1 : header.Sequence;
  const DWORD dwBase = std::max(dwOldMaxSeq + 1, GetHighLowWater());
  if (dwLastSeq < dwBase) return TRUE;
  tNACKRange range = {};
  range.FirstItem.Key = SEQ_TO_KEY(dwBase, m_nListK);
  range.LastItem.Key = SEQ_TO_KEY(dwLastSeq, m_nListK);
  if (range.FirstItem.Key == range.LastItem.Key) {
    range.FirstItem.Count = static_cast<BYTE>(dwLastSeq - dwBase + 1);
    range.LastItem.Count = 0;
  } else {
    range.FirstItem.Count = static_cast<BYTE>(dwK - dwBase % dwK);
    range.LastItem.Count = static_cast<BYTE>(dwLastSeq % dwK + 1);
  }
  CFECGroup* pGroup = m_RecentGroup.GetNumCached() > 0 ? &m_RecentGroup : nullptr;
  const BOOL fResult = AddRange(range, pGroup);
  m_RecentGroup.Clear();
  return fResult;
}

BOOL CNACKlist::AddRange(tNACKRange range, CFECGroup* pGroup) {
  const DWORD dwK = static_cast<DWORD>(m_nListK);
  const auto cap = [this](int n) { return static_cast<BYTE>(std::min(n, m_nListK)); };
  for (const std::unique_ptr<CNACK>& pNACK : m_NACKs) {
    if (!pNACK->KeyInRange(range.FirstItem.Key)) continue;
    tNACKRange& own = pNACK->Range();
    if (own.FirstItem.Key == range.FirstItem.Key) {
      own.FirstItem.Count = cap(own.FirstItem.Count + range.FirstItem.Count);
    } else if (own.LastItem.Key == range.FirstItem.Key) {
      own.LastItem.Count = cap(own.LastItem.Count + range.FirstItem.Count);
    }
    if (range.FirstItem.Key >= range.LastItem.Key) return TRUE;
    range.FirstItem.Key += dwK;
    if (range.FirstItem.Key > range.LastItem.Key) return TRUE;
    if (range.FirstItem.Key == range.LastItem.Key) {
      range.FirstItem.Count = range.LastItem.Count;
      range.LastItem.Count = 0;
    } else {
      range.FirstItem.Count = static_cast<BYTE>(m_nListK);
    }
  }
  std::unique_ptr<CNACK> pNACK(new (std::nothrow) CNACK(
      m_nListK, m_dwNackMinMs, m_dwNackMaxMs, m_nBackoffCap, range, pGroup));
  if (pNACK == nullptr) return FALSE;
  InsertByDue(std::move(pNACK));
  return TRUE;
}

BOOL CNACKlist::HandleRecvRel(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                              BOOL* pfHandled) {
  *pfHandled = FALSE;
  for (auto it = m_NACKs.begin(); it != m_NACKs.end(); ++it) {
    if (!(*it)->KeyInRange(header.Key)) continue;
    *pfHandled = TRUE;
    std::unique_ptr<CFECGroup> pGroup;
    std::unique_ptr<CNACK> pSplit;
    const BOOL fStored = (*it)->Store(header, pPayload, dwLen, &pGroup, &pSplit);
    if ((*it)->IsEmpty()) m_NACKs.erase(it);
    if (pSplit != nullptr) InsertByDue(std::move(pSplit));
    if (!fStored) return FALSE;
    return pGroup == nullptr ? TRUE : TakeGroup(std::move(pGroup));
  }
  return TRUE;
}

BOOL CNACKlist::TakeGroup(std::unique_ptr<CFECGroup> pGroup) {
  if (pGroup->Complete()) return TRUE;  // every source packet went out singly
  if (pGroup->Full()) return m_pQueue->AddGroup(pGroup.release());
  DebugTrace("Group given back %lu.%d\n", static_cast<unsigned long>(pGroup->GetFECKey()),
             pGroup->GetNumCached());
  pGroup->Move(&m_RecentGroup);
  return TRUE;
}

BOOL CNACKlist::StoreRecent(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen) {
  if (m_RecentGroup.GetFECKey() != header.Key) {
    m_RecentGroup.Clear();
    m_RecentGroup.SetFECKey(header.Key);
  }
  BOOL fNotStored = TRUE;
  if (!m_RecentGroup.AddPacket(pPayload, dwLen, header, &fNotStored)) return FALSE;
  if (!m_RecentGroup.Full()) return TRUE;
  if (m_RecentGroup.Complete()) {
    m_RecentGroup.Clear();
    return TRUE;
  }
  std::unique_ptr<CFECGroup> pGroup(new (std::nothrow) CFECGroup(m_nListK));
  if (pGroup == nullptr) return FALSE;
  m_RecentGroup.Move(pGroup.get());
  return m_pQueue->AddGroup(pGroup.release());
}

void CNACKlist::InsertByDue(std::unique_ptr<CNACK> pNACK) {
  const LONG lDueMs = pNACK->MsUntilDue();
  auto it = std::find_if(m_NACKs.begin(), m_NACKs.end(),
                         [lDueMs](const std::unique_ptr<CNACK>& p) {
                           return p->MsUntilDue() > lDueMs;
                         });
  m_NACKs.insert(it, std::move(pNACK));
}

BOOL CNACKlist::FirstDue() const { return !m_NACKs.empty() && m_NACKs.front()->IsDue(); }

BOOL CNACKlist::FirstOverdue(DWORD dwMs) const {
  return !m_NACKs.empty() && m_NACKs.front()->MsUntilDue() <= -static_cast<LONG>(dwMs);
}

BOOL CNACKlist::BuildNACKPacket(BYTE* pPacket, DWORD* pdwLen) {
  if (!FirstDue()) return FALSE;
  DWORD dwRanges = 0;
  while (dwRanges < NACK_MAX_RANGES && !m_NACKs.empty()) {
    EncodeNACKRange(m_NACKs.front()->GetRange(),
                    pPacket + NACK_HEADER_LEN + 1 + dwRanges * NACK_RANGE_LEN);
    m_TempList.splice(m_TempList.end(), m_NACKs, m_NACKs.begin());
    ++dwRanges;
  }
  tNACKHeader stats = GetStats();
  stats.type = KORIN_TYPE_NACK;
  stats.Cookie = KORIN_COOKIE;
  EncodeNACKHeader(stats, pPacket);
  pPacket[NACK_HEADER_LEN] = static_cast<BYTE>(dwRanges);
  *pdwLen = NACK_HEADER_LEN + 1 + dwRanges * NACK_RANGE_LEN;
  return TRUE;
}

BOOL CNACKlist::AfterSend(BOOL fSent) {
  while (!m_TempList.empty()) {
    std::unique_ptr<CNACK> pNACK = std::move(m_TempList.front());
    m_TempList.pop_front();
    if (fSent) pNACK->Arm();
    InsertByDue(std::move(pNACK));
  }
  return TRUE;
}

void CNACKlist::PurgeBelow(DWORD dwLowWater) {
  const DWORD dwKeyLowWater = SEQ_TO_KEY(dwLowWater, m_nListK);
  m_NACKs.remove_if([dwKeyLowWater](const std::unique_ptr<CNACK>& p) {
    return p->GetRange().LastItem.Key < dwKeyLowWater;
  });
}

void CNACKlist::Suppress(const tNACKRange& range) {
  std::vector<std::unique_ptr<CNACK>> covered;
  for (auto it = m_NACKs.begin(); it != m_NACKs.end();) {
    const tNACKRange& own = (*it)->GetRange();
    const bool fCovers =
        range.FirstItem.Key <= own.FirstItem.Key && range.LastItem.Key >= own.LastItem.Key &&
        (range.FirstItem.Key != own.FirstItem.Key ||
         range.FirstItem.Count >= own.FirstItem.Count) &&
        (range.LastItem.Key != own.LastItem.Key || range.LastItem.Count >= own.LastItem.Count);
    if (fCovers) {
      covered.push_back(std::move(*it));
      it = m_NACKs.erase(it);
    } else {
      ++it;
    }
  }
  for (std::unique_ptr<CNACK>& pNACK : covered) {
    pNACK->Arm();
    InsertByDue(std::move(pNACK));
  }
}
