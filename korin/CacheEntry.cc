#include "korin/CacheEntry.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fec/FECVarSize.h"
#include "platform/DebugOutput.h"

namespace {

// A repair header of `dwKey`: reliable data, sequence key + index for a
// source packet, the key's last sequence for parity.
tSRMHeader RepairHeader(DWORD dwKey, int nK, int nIndex, DWORD dwLowWater, WORD wPayloadLen) {
  tSRMHeader header;
  header.type = KORIN_TYPE_DATA;
  header.fReliable = TRUE;
  header.Cookie = KORIN_COOKIE;
  header.LowWater = dwLowWater;
  header.Key = dwKey;
  header.Index = static_cast<BYTE>(nIndex);
  header.Sequence = nIndex < nK ? dwKey + static_cast<DWORD>(nIndex) : KEY_LAST_SEQ(dwKey, nK);
  header.PayloadLen = wPayloadLen;
  return header;
}

}  // namespace

CCacheEntry::CCacheEntry(int nK, DWORD dwKey, DWORD dwHoldOffMs)
    : m_nK(std::clamp(nK, 1, KORIN_MAX_K)),
      m_dwLastSendMs{},
      m_dwRepairHistoryMs{},
      m_dwLen{},
      m_Key(dwKey),
      m_nStored(0),
      m_nNextIndex(m_nK),
      m_dwRepairsSent(0),
      m_dwRequested(0),
      m_dwHighLowWater(0),
      m_dwQueuedMask(0),
      m_dwHoldOffMs(dwHoldOffMs) {
  ORV_ASSERT(nK > 0 && nK <= KORIN_MAX_K);
}

BOOL CCacheEntry::Store(const tSRMHeader& header, const WSABUF* pBuffers, DWORD dwBufferCount) {
  if (!ORV_ASSERT(pBuffers != NULL) || !ORV_ASSERT(dwBufferCount > 0) ||
      !ORV_ASSERT(header.fReliable) || !ORV_ASSERT(header.Key == m_Key) ||
      !ORV_ASSERT(header.Index < m_nK)) {
    return FALSE;
  }
  m_dwHighLowWater = std::max(m_dwHighLowWater, header.LowWater);
  int nSlot = header.Index;
  if (m_pPayload[nSlot]) return TRUE;  // already held
  DWORD dwTotal = 0;
  for (DWORD i = 0; i < dwBufferCount; ++i) dwTotal += pBuffers[i].len;
  std::unique_ptr<BYTE[]> pCopy(new (std::nothrow) BYTE[std::max<DWORD>(dwTotal, 1)]);
  if (!pCopy) return FALSE;
  DWORD dwAt = 0;
  for (DWORD i = 0; i < dwBufferCount; ++i) {
    if (pBuffers[i].len > 0) std::memcpy(pCopy.get() + dwAt, pBuffers[i].buf, pBuffers[i].len);
    dwAt += pBuffers[i].len;
  }
  m_pPayload[nSlot] = std::move(pCopy);
  m_dwLen[nSlot] = dwTotal;
  m_dwStoredBytes += dwTotal;
  m_dwLastSendMs[nSlot] = m_Timer.Elapsed();
  ++m_nStored;
  return TRUE;
}

BOOL CCacheEntry::QueueRepairs(DWORD dwHighRelKey, DWORD dwIndexMask, DWORD dwCount) {
  DWORD dwNowMs = m_Timer.Elapsed();
  if (!IsComplete() || m_nK == 1) return QueueSourceResends(dwHighRelKey, dwIndexMask, dwNowMs);
  // A receiver never needs more than K packets of one key.
  return QueueParity(std::min<DWORD>(dwCount, static_cast<DWORD>(m_nK)), dwNowMs);
}

BOOL CCacheEntry::QueueSourceResends(DWORD dwHighRelKey, DWORD dwIndexMask, DWORD dwNowMs) {
  // The mask tells what the receiver holds of its highest reliable key only.
  DWORD dwHeld = 0;
  if (dwHighRelKey == m_Key) {
    dwHeld = dwIndexMask;
  } else if (dwHighRelKey > m_Key && m_nK != 1) {
    return FALSE;  // the receiver is past a key this sender has not finished
  }
  BOOL fWasIdle = m_dwRequested == 0;
  for (int i = 0; i < m_nK; ++i) {
    DWORD dwBit = DWORD{1} << i;
    if (!m_pPayload[i] || (dwHeld & dwBit) || (m_dwQueuedMask & dwBit)) continue;
    if (dwNowMs - m_dwLastSendMs[i] < m_dwHoldOffMs) continue;
    m_dwQueuedMask |= dwBit;
    ++m_dwRequested;
  }
  ORV_ASSERT(m_dwRequested <= static_cast<DWORD>(m_nK));
  return fWasIdle && m_dwRequested > 0;
}

BOOL CCacheEntry::QueueParity(DWORD dwCount, DWORD dwNowMs) {
  // Repairs sent within the hold-off count against the request.
  DWORD dwDepth = std::min<DWORD>(static_cast<DWORD>(m_nK), m_dwRepairsSent);
  for (DWORD j = 0; j < dwDepth && dwCount > 0; ++j) {
    if (dwNowMs - m_dwRepairHistoryMs[j] < m_dwHoldOffMs) --dwCount;
  }
  if (dwCount == 0 || m_dwRequested >= dwCount) return FALSE;
  BOOL fWasIdle = m_dwRequested == 0;
  m_dwRequested = dwCount;
  return fWasIdle;
}

BOOL CCacheEntry::NextRepair(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC, tSRMHeader* pHeader,
                             DWORD* pdwPayloadBytes) {
  if (!ORV_ASSERT(m_dwRequested > 0)) return FALSE;
  DWORD dwNowMs = m_Timer.Elapsed();
  BOOL fResult = (!IsComplete() || m_nK < 2)
                     ? NextSourceResend(pBuf, dwBufSize, pHeader, pdwPayloadBytes, dwNowMs)
                     : NextParity(pBuf, dwBufSize, pFEC, pHeader, pdwPayloadBytes, dwNowMs);
  --m_dwRequested;
  return fResult;
}

void CCacheEntry::CopySource(int nIndex, BYTE* pBuf, DWORD dwBufSize,
                             DWORD* pdwPayloadBytes) const {
  DWORD dwBytes = std::min(m_dwLen[nIndex], dwBufSize);
  if (dwBytes > 0) std::memcpy(pBuf, m_pPayload[nIndex].get(), dwBytes);
  *pdwPayloadBytes = dwBytes;
}

BOOL CCacheEntry::NextSourceResend(BYTE* pBuf, DWORD dwBufSize, tSRMHeader* pHeader,
                                   DWORD* pdwPayloadBytes, DWORD dwNowMs) {
  for (int i = 0; i < m_nK; ++i) {
    DWORD dwBit = DWORD{1} << i;
    if (!(m_dwQueuedMask & dwBit) || !m_pPayload[i]) continue;
    CopySource(i, pBuf, dwBufSize, pdwPayloadBytes);
    *pHeader = RepairHeader(m_Key, m_nK, i, m_dwHighLowWater, static_cast<WORD>(m_dwLen[i]));
    m_dwQueuedMask &= ~dwBit;
    m_dwLastSendMs[i] = dwNowMs;
    return TRUE;
  }
  return FALSE;
}

BOOL CCacheEntry::NextParity(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC, tSRMHeader* pHeader,
                             DWORD* pdwPayloadBytes, DWORD dwNowMs) {
  int nIndex = m_nNextIndex;
  m_nNextIndex = nIndex >= 255 ? 0 : nIndex + 1;
  std::copy_backward(m_dwRepairHistoryMs, m_dwRepairHistoryMs + KORIN_MAX_K - 1,
                     m_dwRepairHistoryMs + KORIN_MAX_K);
  m_dwRepairHistoryMs[0] = dwNowMs;
  ++m_dwRepairsSent;

  if (nIndex < m_nK) {  // after the wrap: the stored source packets again
    CopySource(nIndex, pBuf, dwBufSize, pdwPayloadBytes);
    *pHeader = RepairHeader(m_Key, m_nK, nIndex, m_dwHighLowWater,
                            static_cast<WORD>(m_dwLen[nIndex]));
    return TRUE;
  }
  if (!ORV_ASSERT(pFEC != NULL)) return FALSE;
  BYTE* ppSrc[KORIN_MAX_K];
  int nLens[KORIN_MAX_K];
  for (int i = 0; i < m_nK; ++i) {
    ppSrc[i] = m_pPayload[i].get();
    nLens[i] = static_cast<int>(m_dwLen[i]);
  }
  int nOutLen = 0;
  BYTE bLenParity[4] = {};
  DWORD dwResult = pFEC->Encode(ppSrc, nLens, pBuf, static_cast<int>(dwBufSize), &nOutLen,
                                bLenParity, nIndex);
  if (dwResult != 0) return FALSE;
  int nLenWord = 0;  // the coder's length word is an int in host order
  std::memcpy(&nLenWord, bLenParity, sizeof nLenWord);
  // Lengths below 65536 code to a word below 65536: the upper bytes are zero.
  if (!ORV_ASSERT(nLenWord >= 0 && nLenWord <= 0xFFFF)) return FALSE;
  *pdwPayloadBytes = static_cast<DWORD>(nOutLen);
  *pHeader = RepairHeader(m_Key, m_nK, nIndex, m_dwHighLowWater, static_cast<WORD>(nLenWord));
  return TRUE;
}
