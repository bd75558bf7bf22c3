// CFEC: a systematic Reed-Solomon erasure code over GF(2^8) built from a
// Vandermonde matrix. From k equal-sized data blocks it makes any of the n - k
// parity blocks; from any k distinct blocks of the n (each with its index) it
// restores the k data blocks. Index i < k is data block i, k <= i < n a parity
// block. Every process builds the same matrix for the same (k, n).
// One object is used by one thread at a time.
#pragma once

#include "platform/Win32Types.h"

class CFEC {
 public:
  CFEC();
  virtual ~CFEC();
  CFEC(const CFEC&) = delete;
  CFEC& operator=(const CFEC&) = delete;

  // Sets the code up for nK data blocks of nN: 0, ERROR_INVALID_PARAMETER (87)
  // when nK < 1, nK > 256, nN > 256 or nN < nK, ERROR_NOT_ENOUGH_MEMORY (8)
  // with nothing allocated. A second Init replaces the first.
  DWORD Init(int nK, int nN);

  // Writes block nIndex (nSize bytes) made from the k blocks ppSrc[0..k-1] to
  // pDst: a copy of ppSrc[nIndex] for a data index, else the parity block.
  // 0, or 87 for an index outside 0..n-1, a negative size or no Init.
  // REQUIRES: pDst overlaps no source block (except ppSrc[nIndex] itself).
  DWORD Encode(BYTE** ppSrc, int nSize, BYTE* pDst, int nIndex);

  // ppPkt[0..k-1] hold k received blocks of nSize bytes, pIndex[0..k-1] their
  // indexes, in any order. Writes data block i to ppOut[i] for i < k. Both
  // input arrays are reordered in place so that data block i sits in entry i.
  // 0; 31 (ERROR_GEN_FAILURE) when a block is given twice; 87 for an index
  // outside 0..n-1, a negative size or no Init.
  // REQUIRES: the output blocks overlap no received block.
  DWORD Decode(BYTE** ppPkt, int* pIndex, int nSize, BYTE** ppOut);

 protected:
  // Swaps entries until every data index i sits in entry i, reordering ppPkt
  // and the optional extra arrays alike; 31 when a data index repeats, 87 for
  // a negative index.
  DWORD PlaceDataBlocks(int* pIndex, BYTE** ppPkt, int* pnExtra1, int* pnExtra2) const;
  // Builds m_DecMatrix for placed indexes and inverts it: 0, 87 or 31.
  DWORD BuildDecodeMatrix(const int* pIndex);
  // For each entry i of pRows: ppOut[i][nFrom..nFrom+nLen) = sum over the
  // entries j of pCols of m_DecMatrix[i][j] * ppPkt[j][nFrom..nFrom+nLen).
  void Combine(const int* pRows, int nRows, const int* pCols, int nCols, BYTE* const* ppPkt,
               BYTE* const* ppOut, int nFrom, int nLen);
  void Free();

  BYTE* m_pEncMatrix;   // n rows of k coefficients
  BYTE* m_DecMatrix;    // k x k, the inverse used by the last Decode
  BYTE* m_pScratch;     // k x 2k, inversion and coefficient work space
  int m_nK;
  int m_nN;

 private:
  DWORD BuildEncodeMatrix();
  BOOL InvertDecodeMatrix();
};
