#include "fec/FECVarSize.h"

#include <algorithm>
#include <cstring>

#include "fec/GfKernel.h"
#include "fec/GfTables.h"
#include "platform/DebugOutput.h"

namespace {

constexpr int kBlocks = 256;
constexpr int kLenWordBytes = 4;

// The k lengths in ascending order into pnSorted; returns how many there are
// to walk (1 when all are equal, the usual case).
int SortedLengths(const int* pnLens, int k, int* pnSorted) {
  pnSorted[0] = pnLens[0];
  bool same = true;
  for (int i = 1; i < k; ++i) same = same && pnLens[i] == pnLens[0];
  if (same) return 1;
  std::memcpy(pnSorted, pnLens, sizeof(int) * k);
  std::sort(pnSorted, pnSorted + k);
  return k;
}

}  // namespace

CFECVarSize::CFECVarSize() : m_nMaxBlockSize(0) {}

CFECVarSize::~CFECVarSize() = default;

DWORD CFECVarSize::Init(int nK, int nMaxBlockSize) {
  if (!ORV_ASSERT(nMaxBlockSize >= 0)) return ERROR_INVALID_PARAMETER;
  m_nMaxBlockSize = nMaxBlockSize;
  return CFEC::Init(nK, kBlocks);
}

DWORD CFECVarSize::EncodeLengths(int* pnLens, BYTE* pLenParity, int nIndex) {
  if (!ORV_ASSERT(m_pEncMatrix != nullptr && nIndex >= 0 && nIndex < m_nN)) {
    return ERROR_INVALID_PARAMETER;
  }
  // CFEC::Encode over the words as 4-byte blocks, done here by table: the
  // block kernels' set-up would cost more than these few bytes.
  const BYTE* row = m_pEncMatrix + static_cast<std::size_t>(nIndex) * m_nK;
  const fec::GfTables& gf = fec::Gf();
  BYTE word[kLenWordBytes] = {};
  for (int i = 0; i < m_nK; ++i) {
    BYTE bytes[kLenWordBytes];
    std::memcpy(bytes, &pnLens[i], kLenWordBytes);
    const BYTE* mul = gf.mul[row[i]];
    for (int j = 0; j < kLenWordBytes; ++j) word[j] ^= mul[bytes[j]];
  }
  std::memcpy(pLenParity, word, kLenWordBytes);
  return 0;
}

DWORD CFECVarSize::DecodeLengths(int* pnLenWords, int* pIndex, int* pnOutLens) {
  if (!ORV_ASSERT(m_pEncMatrix != nullptr)) return ERROR_INVALID_PARAMETER;
  BYTE* words[kBlocks];
  BYTE* outs[kBlocks];
  for (int i = 0; i < m_nK; ++i) {
    words[i] = reinterpret_cast<BYTE*>(&pnLenWords[i]);
    outs[i] = reinterpret_cast<BYTE*>(&pnOutLens[i]);
  }
  // Decode reorders the word pointers; keep the words themselves in step.
  int order[kBlocks];
  const DWORD dwErr = CFEC::Decode(words, pIndex, kLenWordBytes, outs);
  for (int i = 0; i < m_nK; ++i) std::memcpy(&order[i], words[i], kLenWordBytes);
  std::memcpy(pnLenWords, order, sizeof(int) * m_nK);
  return dwErr;
}

DWORD CFECVarSize::Encode(BYTE** ppSrc, int* pnLens, BYTE* pDst, int nEncSz, int* pnOutLen,
                          BYTE* pLenParity, int nIndex) {
  *pnOutLen = 0;
  if (!ORV_ASSERT(m_pEncMatrix != nullptr)) return ERROR_INVALID_PARAMETER;
  const int k = m_nK;
  int maxLen = 0;
  bool same = true;
  for (int i = 0; i < k; ++i) {
    if (!ORV_ASSERT(pnLens[i] >= 0)) return ERROR_INVALID_PARAMETER;
    maxLen = std::max(maxLen, pnLens[i]);
    same = same && pnLens[i] == pnLens[0];
  }
  DWORD dwErr = EncodeLengths(pnLens, pLenParity, nIndex);
  if (dwErr != 0) return dwErr;
  if (!ORV_ASSERT(nEncSz <= m_nMaxBlockSize) || !ORV_ASSERT(nEncSz >= maxLen)) {
    return ERROR_INVALID_PARAMETER;
  }
  *pnOutLen = maxLen;
  if (same) return CFEC::Encode(ppSrc, maxLen, pDst, nIndex);  // one length: the plain code
  if (nIndex < k) {
    const int len = pnLens[nIndex];
    if (len > 0 && pDst != ppSrc[nIndex]) std::memcpy(pDst, ppSrc[nIndex], len);
    std::memset(pDst + len, 0, maxLen - len);
    return 0;
  }
  // Slice by slice in ascending length: in each slice only the blocks that
  // still have bytes contribute; ended blocks count as zeros.
  const BYTE* row = m_pEncMatrix + static_cast<std::size_t>(nIndex) * k;
  int sorted[kBlocks];
  const int nSlices = SortedLengths(pnLens, k, sorted);
  int done = 0;
  for (int s = 0; s < nSlices; ++s) {
    const int end = sorted[s];
    if (end <= done) continue;
    const BYTE* srcs[kBlocks];
    BYTE coefs[kBlocks];
    int n = 0;
    for (int i = 0; i < k; ++i) {
      if (pnLens[i] >= end && row[i] != 0) {
        srcs[n] = ppSrc[i] + done;
        coefs[n++] = row[i];
      }
    }
    BYTE* dst = pDst + done;
    fec::DotProduct(&dst, 1, srcs, coefs, n, static_cast<std::size_t>(end - done));
    done = end;
  }
  return 0;
}

DWORD CFECVarSize::Decode(BYTE** ppPkt, int* pIndex, int* pnRecvLens, int* pnHdrLens,
                          int nBuffSize, BYTE** ppOut, int* pnOutLens) {
  if (!ORV_ASSERT(m_pEncMatrix != nullptr) || !ORV_ASSERT(nBuffSize <= m_nMaxBlockSize)) {
    return ERROR_INVALID_PARAMETER;
  }
  DWORD dwErr = PlaceDataBlocks(pIndex, ppPkt, pnRecvLens, pnHdrLens);
  if (dwErr == 0) dwErr = DecodeLengths(pnHdrLens, pIndex, pnOutLens);
  if (dwErr == 0) dwErr = CheckLengths(pIndex, pnRecvLens, pnOutLens, nBuffSize);
  if (dwErr != 0) return dwErr;
  for (int i = 0; i < m_nK; ++i) {
    if (pIndex[i] < m_nK && pnOutLens[i] > 0 && ppOut[i] != ppPkt[i]) {
      std::memcpy(ppOut[i], ppPkt[i], pnOutLens[i]);
    }
  }
  RestoreLost(ppPkt, pIndex, pnOutLens, ppOut);
  return 0;
}

// Every restored length must fit the output buffers, every received data
// block must hold its length, and every parity block the longest length.
DWORD CFECVarSize::CheckLengths(const int* pIndex, const int* pnRecvLens, const int* pnOutLens,
                                int nBuffSize) const {
  int maxLen = 0;
  for (int i = 0; i < m_nK; ++i) {
    if (!ORV_ASSERT(pnOutLens[i] >= 0 && pnOutLens[i] <= nBuffSize)) {
      return ERROR_INVALID_PARAMETER;
    }
    maxLen = std::max(maxLen, pnOutLens[i]);
  }
  for (int i = 0; i < m_nK; ++i) {
    const int need = pIndex[i] < m_nK ? pnOutLens[i] : maxLen;
    if (!ORV_ASSERT(pnRecvLens[i] >= need)) return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

// Restores the lost data blocks slice by slice in ascending length; in each
// slice the received data blocks that have ended count as zeros.
void CFECVarSize::RestoreLost(BYTE** ppPkt, const int* pIndex, const int* pnOutLens,
                              BYTE** ppOut) {
  const int k = m_nK;
  int sorted[kBlocks];
  const int nSlices = SortedLengths(pnOutLens, k, sorted);
  int done = 0;
  for (int s = 0; s < nSlices; ++s) {
    const int end = sorted[s];
    if (end <= done) continue;
    int rows[kBlocks];
    int cols[kBlocks];
    int nRows = 0;
    int nCols = 0;
    for (int i = 0; i < k; ++i) {
      const bool parity = pIndex[i] >= k;
      if (parity && pnOutLens[i] >= end) rows[nRows++] = i;
      if (parity || pnOutLens[i] >= end) cols[nCols++] = i;
    }
    Combine(rows, nRows, cols, nCols, ppPkt, ppOut, done, end - done);
    done = end;
  }
}
