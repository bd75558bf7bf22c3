#include "fec/FEC.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "fec/GfKernel.h"
#include "fec/GfTables.h"
#include "platform/DebugOutput.h"

namespace {

constexpr int kMaxBlocks = 256;

BYTE Mul(BYTE a, BYTE b) { return fec::Gf().mul[a][b]; }

// Inverts the k x k Vandermonde matrix `m` in place; its evaluation points are
// m[i][1]. Builds the coefficients of prod (x - p_i), then each row of the
// inverse by synthetic division, scaled by the inverse of the derivative.
void InvertVandermonde(BYTE* m, int k, BYTE* work) {
  if (k == 1) return;
  BYTE* c = work;
  BYTE* b = work + k;
  BYTE* p = work + 2 * k;
  for (int i = 0; i < k; ++i) {
    c[i] = 0;
    p[i] = m[i * k + 1];
  }
  c[k - 1] = p[0];
  for (int i = 1; i < k; ++i) {
    const BYTE pi = p[i];
    for (int j = k - 1 - (i - 1); j < k - 1; ++j) c[j] ^= Mul(pi, c[j + 1]);
    c[k - 1] ^= pi;
  }
  for (int row = 0; row < k; ++row) {
    const BYTE xx = p[row];
    BYTE t = 1;
    b[k - 1] = 1;
    for (int i = k - 2; i >= 0; --i) {
      b[i] = c[i + 1] ^ Mul(xx, b[i + 1]);
      t = Mul(xx, t) ^ b[i];
    }
    const BYTE scale = fec::Gf().inverse[t];
    for (int col = 0; col < k; ++col) m[col * k + row] = Mul(scale, b[col]);
  }
}

}  // namespace

CFEC::CFEC() : m_pEncMatrix(nullptr), m_DecMatrix(nullptr), m_pScratch(nullptr), m_nK(0), m_nN(0) {}

CFEC::~CFEC() { Free(); }

void CFEC::Free() {
  delete[] m_pEncMatrix;
  delete[] m_DecMatrix;
  delete[] m_pScratch;
  m_pEncMatrix = nullptr;
  m_DecMatrix = nullptr;
  m_pScratch = nullptr;
  m_nK = 0;
  m_nN = 0;
}

DWORD CFEC::Init(int nK, int nN) {
  fec::Gf();
#ifndef NDEBUG
  static const BOOL tablesOk = fec::CheckTables();
  (void)tablesOk;
#endif
  if (!ORV_ASSERT(nK >= 1 && nK <= kMaxBlocks && nN <= kMaxBlocks && nN >= nK)) {
    return ERROR_INVALID_PARAMETER;
  }
  Free();
  m_pEncMatrix = new (std::nothrow) BYTE[static_cast<std::size_t>(nN) * nK];
  m_DecMatrix = new (std::nothrow) BYTE[static_cast<std::size_t>(nK) * nK];
  m_pScratch = new (std::nothrow) BYTE[static_cast<std::size_t>(nK) * nK * 2 + 3 * nK];
  if (m_pEncMatrix == nullptr || m_DecMatrix == nullptr || m_pScratch == nullptr) {
    Free();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_nK = nK;
  m_nN = nN;
  return BuildEncodeMatrix();
}

DWORD CFEC::BuildEncodeMatrix() {
  const int k = m_nK;
  const int n = m_nN;
  BYTE* v = new (std::nothrow) BYTE[static_cast<std::size_t>(n) * k];
  if (v == nullptr) {
    Free();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  const fec::GfTables& gf = fec::Gf();
  std::memset(v, 0, k);
  v[0] = 1;
  for (int r = 0; r + 1 < n; ++r) {
    for (int c = 0; c < k; ++c) v[(r + 1) * k + c] = gf.exp[fec::Modnn(r * c)];
  }
  InvertVandermonde(v, k, m_pScratch);
  // Parity rows: rows k..n-1 of v times the inverse of its top k rows.
  for (int r = k; r < n; ++r) {
    for (int c = 0; c < k; ++c) {
      BYTE acc = 0;
      for (int i = 0; i < k; ++i) acc ^= Mul(v[r * k + i], v[i * k + c]);
      m_pEncMatrix[r * k + c] = acc;
    }
  }
  std::memset(m_pEncMatrix, 0, static_cast<std::size_t>(k) * k);
  for (int i = 0; i < k; ++i) m_pEncMatrix[i * k + i] = 1;
  delete[] v;
  return 0;
}

DWORD CFEC::Encode(BYTE** ppSrc, int nSize, BYTE* pDst, int nIndex) {
  if (!ORV_ASSERT(m_pEncMatrix != nullptr && nSize >= 0 && nIndex >= 0 && nIndex < m_nN)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (nIndex < m_nK) {
    if (nSize > 0 && pDst != ppSrc[nIndex]) std::memcpy(pDst, ppSrc[nIndex], nSize);
    return 0;
  }
  const BYTE* row = m_pEncMatrix + static_cast<std::size_t>(nIndex) * m_nK;
  const BYTE* srcs[kMaxBlocks];
  BYTE coefs[kMaxBlocks];
  int n = 0;
  for (int i = 0; i < m_nK; ++i) {
    if (row[i] == 0) continue;
    srcs[n] = ppSrc[i];
    coefs[n++] = row[i];
  }
  fec::DotProduct(&pDst, 1, srcs, coefs, n, static_cast<std::size_t>(nSize));
  return 0;
}

DWORD CFEC::PlaceDataBlocks(int* pIndex, BYTE** ppPkt, int* pnExtra1, int* pnExtra2) const {
  const int k = m_nK;
  for (int i = 0; i < k; ++i) {
    if (!ORV_ASSERT(pIndex[i] >= 0)) return ERROR_INVALID_PARAMETER;
  }
  for (int i = 0; i < k;) {
    const int c = pIndex[i];
    if (c >= k || c == i) {
      ++i;
      continue;
    }
    if (!ORV_ASSERT(pIndex[c] != c)) return ERROR_GEN_FAILURE;  // data block given twice
    std::swap(pIndex[i], pIndex[c]);
    std::swap(ppPkt[i], ppPkt[c]);
    if (pnExtra1 != nullptr) std::swap(pnExtra1[i], pnExtra1[c]);
    if (pnExtra2 != nullptr) std::swap(pnExtra2[i], pnExtra2[c]);
  }
  return 0;
}

DWORD CFEC::BuildDecodeMatrix(const int* pIndex) {
  if (!ORV_ASSERT(m_DecMatrix != nullptr)) return ERROR_INVALID_PARAMETER;
  const int k = m_nK;
  for (int i = 0; i < k; ++i) {
    BYTE* row = m_DecMatrix + static_cast<std::size_t>(i) * k;
    if (pIndex[i] < k) {
      std::memset(row, 0, k);
      row[i] = 1;
    } else if (ORV_ASSERT(pIndex[i] < m_nN)) {
      std::memcpy(row, m_pEncMatrix + static_cast<std::size_t>(pIndex[i]) * k, k);
    } else {
      return ERROR_INVALID_PARAMETER;
    }
  }
  if (!ORV_ASSERT(InvertDecodeMatrix())) return ERROR_GEN_FAILURE;
  return 0;
}

// Gauss-Jordan elimination on [M | I] in the scratch space; M becomes I and
// the right half the inverse.
BOOL CFEC::InvertDecodeMatrix() {
  const int k = m_nK;
  const std::size_t w = 2 * static_cast<std::size_t>(k);
  BYTE* a = m_pScratch;
  std::memset(a, 0, w * k);
  for (int i = 0; i < k; ++i) {
    std::memcpy(a + i * w, m_DecMatrix + static_cast<std::size_t>(i) * k, k);
    a[i * w + k + i] = 1;
  }
  const fec::GfTables& gf = fec::Gf();
  for (int col = 0; col < k; ++col) {
    int pivot = col;
    while (pivot < k && a[pivot * w + col] == 0) ++pivot;
    if (pivot == k) return FALSE;
    BYTE* prow = a + col * w;
    if (pivot != col) {
      BYTE* other = a + pivot * w;
      for (std::size_t j = 0; j < w; ++j) std::swap(prow[j], other[j]);
    }
    const BYTE p = prow[col];
    if (p != 1) {
      const BYTE* scale = gf.mul[gf.inverse[p]];
      for (std::size_t j = 0; j < w; ++j) prow[j] = scale[prow[j]];
    }
    for (int r = 0; r < k; ++r) {
      BYTE* row = a + r * w;
      if (r != col && row[col] != 0) fec::MulAdd(row, prow, row[col], w);
    }
  }
  for (int i = 0; i < k; ++i) {
    std::memcpy(m_DecMatrix + static_cast<std::size_t>(i) * k, a + i * w + k, k);
  }
  return TRUE;
}

void CFEC::Combine(const int* pRows, int nRows, const int* pCols, int nCols, BYTE* const* ppPkt,
                   BYTE* const* ppOut, int nFrom, int nLen) {
  if (nRows == 0 || nLen <= 0) return;
  const int k = m_nK;
  BYTE* outs[kMaxBlocks];
  const BYTE* srcs[kMaxBlocks];
  BYTE* coefs = m_pScratch;  // nRows x nCols
  for (int j = 0; j < nCols; ++j) srcs[j] = ppPkt[pCols[j]] + nFrom;
  for (int r = 0; r < nRows; ++r) {
    outs[r] = ppOut[pRows[r]] + nFrom;
    const BYTE* row = m_DecMatrix + static_cast<std::size_t>(pRows[r]) * k;
    for (int j = 0; j < nCols; ++j) coefs[r * nCols + j] = row[pCols[j]];
  }
  fec::DotProduct(outs, nRows, srcs, coefs, nCols, static_cast<std::size_t>(nLen));
}

DWORD CFEC::Decode(BYTE** ppPkt, int* pIndex, int nSize, BYTE** ppOut) {
  if (!ORV_ASSERT(m_pEncMatrix != nullptr && nSize >= 0)) return ERROR_INVALID_PARAMETER;
  const int k = m_nK;
  DWORD dwErr = PlaceDataBlocks(pIndex, ppPkt, nullptr, nullptr);
  if (dwErr == 0) dwErr = BuildDecodeMatrix(pIndex);
  if (dwErr != 0) return dwErr;
  int lost[kMaxBlocks];
  int all[kMaxBlocks];
  int nLost = 0;
  for (int i = 0; i < k; ++i) {
    all[i] = i;
    if (pIndex[i] >= k) {
      lost[nLost++] = i;
    } else if (nSize > 0 && ppOut[i] != ppPkt[i]) {
      std::memcpy(ppOut[i], ppPkt[i], nSize);
    }
  }
  Combine(lost, nLost, all, k, ppPkt, ppOut, 0, nSize);
  return 0;
}
