#include "korin/FECGroup.h"

#include <cstring>
#include <new>

#include "platform/DebugOutput.h"

CFECGroup::CFECGroup(int nK)
    : m_nK(nK), m_dwKey(0), m_pPackets{}, m_nIndexes{}, m_nRecvLens{}, m_nHeaderLens{},
      m_bStored(0), m_bSources(0), m_bHighIndex(0) {
  ORV_ASSERT(nK > 0 && nK <= kMaxK);
}

CFECGroup::~CFECGroup() { Clear(); }

BOOL CFECGroup::AddPacket(const BYTE* pPayload, DWORD dwLen, const tSRMHeader& header,
                          BOOL* pfNotStored) {
  *pfNotStored = TRUE;
  if (header.Key != m_dwKey) return FALSE;
  if (m_nK == 1) return TRUE;
  if (m_bStored >= m_nK) return TRUE;
  for (int i = 0; i < m_bStored; ++i) {
    if (m_nIndexes[i] == header.Index) return TRUE;
  }
  BYTE* pCopy = new (std::nothrow) BYTE[dwLen > 0 ? dwLen : 1];
  if (pCopy == nullptr) return FALSE;
  *pfNotStored = FALSE;
  if (dwLen > 0) std::memcpy(pCopy, pPayload, dwLen);
  const int nSlot = m_bStored;
  m_pPackets[nSlot] = pCopy;
  m_nIndexes[nSlot] = header.Index;
  m_nRecvLens[nSlot] = static_cast<int>(dwLen);
  m_nHeaderLens[nSlot] = header.PayloadLen;
  ++m_bStored;
  if (header.Index < m_nK) ++m_bSources;
  if (header.Index > m_bHighIndex) m_bHighIndex = header.Index;
  return TRUE;
}

void CFECGroup::Clear() {
  for (int i = 0; i < kMaxK; ++i) {
    delete[] m_pPackets[i];
    m_pPackets[i] = nullptr;
    m_nIndexes[i] = 0;
    m_nRecvLens[i] = 0;
    m_nHeaderLens[i] = 0;
  }
  m_dwKey = 0;
  m_bStored = 0;
  m_bSources = 0;
  m_bHighIndex = 0;
}

void CFECGroup::Move(CFECGroup* pTo) {
  if (pTo == this) return;
  pTo->Clear();
  pTo->m_nK = m_nK;
  pTo->m_dwKey = m_dwKey;
  for (int i = 0; i < kMaxK; ++i) {
    pTo->m_pPackets[i] = m_pPackets[i];
    pTo->m_nIndexes[i] = m_nIndexes[i];
    pTo->m_nRecvLens[i] = m_nRecvLens[i];
    pTo->m_nHeaderLens[i] = m_nHeaderLens[i];
    m_pPackets[i] = nullptr;
  }
  pTo->m_bStored = m_bStored;
  pTo->m_bSources = m_bSources;
  pTo->m_bHighIndex = m_bHighIndex;
  Clear();
}

BOOL CFECGroup::Decode(BYTE** ppOut, DWORD dwMaxPacketSize, int* pnLens, CFECVarSize* pCoder) {
  if (!Full() || m_nK < 2) return FALSE;
  return pCoder->Decode(m_pPackets, m_nIndexes, m_nRecvLens, m_nHeaderLens,
                        static_cast<int>(dwMaxPacketSize), ppOut, pnLens) == 0;
}
