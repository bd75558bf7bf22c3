#include "korin/RecvStats.h"

#include <algorithm>

#include "platform/DebugOutput.h"

CRecvStats::CRecvStats() : m_Stats(), m_nK(0) { m_Stats.MinSeq = 0xFFFFFFFFu; }

void CRecvStats::ResetStats() {
  CLockGuard guard(&m_Lock);
  m_Stats = tNACKHeader();
  m_Stats.MinSeq = 0xFFFFFFFFu;
}

void CRecvStats::UpdateStats(const tSRMHeader& header) {
  CLockGuard guard(&m_Lock);
  if (!ORV_ASSERT(m_nK > 0)) return;
  m_Stats.MaxSeq = std::max(m_Stats.MaxSeq, header.Sequence);
  m_Stats.MinSeq = std::min(m_Stats.MinSeq, header.Sequence);
  if (header.Key > m_Stats.MaxKey) {
    m_Stats.MaxKey = header.Key;
    m_Stats.MaxKeyIndex = header.Index;
  }
  m_Stats.HighLowWater = std::max(m_Stats.HighLowWater, header.LowWater);
  if (header.fReliable) {
    if (header.Key > m_Stats.HighRelKey) {
      m_Stats.HighRelKey = header.Key;
      m_Stats.IndexMask = 0;
    }
    if (header.Key == m_Stats.HighRelKey && header.Index < m_nK) {
      m_Stats.IndexMask |= DWORD{1} << header.Index;
    }
  }
}

tNACKHeader CRecvStats::GetStats() {
  CLockGuard guard(&m_Lock);
  return m_Stats;
}

DWORD CRecvStats::GetMaxSeq() {
  CLockGuard guard(&m_Lock);
  return m_Stats.MaxSeq;
}

DWORD CRecvStats::GetMaxKey() {
  CLockGuard guard(&m_Lock);
  return m_Stats.MaxKey;
}

DWORD CRecvStats::GetHighLowWater() {
  CLockGuard guard(&m_Lock);
  return m_Stats.HighLowWater;
}
