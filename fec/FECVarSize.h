// CFECVarSize: the erasure code of CFEC (n = 256) over data blocks of unequal
// length. A parity block is as long as the longest data block, shorter blocks
// counting as zeros beyond their end; each block's length is a 4-byte word
// (an int in host order) coded with the same code, so that a receiver
// restores lost blocks with their exact lengths.
// One object is used by one thread at a time.
#pragma once

#include "fec/FEC.h"

class CFECVarSize : public CFEC {
 public:
  CFECVarSize();
  ~CFECVarSize() override;

  // nK data blocks of at most nMaxBlockSize bytes each: 0, 87 or 8.
  DWORD Init(int nK, int nMaxBlockSize);

  // Makes block nIndex from ppSrc[0..k-1] of lengths pnLens[0..k-1] into pDst
  // (room for nEncSz bytes): *pnOutLen = the bytes written, the longest length;
  // pLenParity (4 bytes) = the coded length word of index nIndex, which travels
  // as the block's length field (it fits 16 bits when every length does). A
  // data index copies that block and pads it with zeros.
  // 0, or 87 (with *pnOutLen = 0) when nEncSz is below the longest length or
  // above the maximum block size, a length is negative, or nIndex is outside
  // 0..255.
  DWORD Encode(BYTE** ppSrc, int* pnLens, BYTE* pDst, int nEncSz, int* pnOutLen, BYTE* pLenParity,
               int nIndex);

  // ppPkt[0..k-1] hold k received blocks: pIndex their indexes, pnRecvLens the
  // bytes received of each, pnHdrLens each one's length word (a data block's
  // length, a parity block's coded length). Restores data block i into
  // ppOut[i] (room for nBuffSize bytes) and its length into pnOutLens[i]. The
  // four input arrays are reordered alike so that data block i sits in entry i.
  // 0; 31 for a block given twice; 87 for a bad index, nBuffSize above the
  // maximum block size, a restored length outside 0..nBuffSize, or a block
  // shorter than the bytes the restored lengths need.
  // REQUIRES: the output blocks overlap no received block.
  DWORD Decode(BYTE** ppPkt, int* pIndex, int* pnRecvLens, int* pnHdrLens, int nBuffSize,
               BYTE** ppOut, int* pnOutLens);

  // The coded length word of index nIndex over the k lengths: 0 or 87.
  DWORD EncodeLengths(int* pnLens, BYTE* pLenParity, int nIndex);
  // Restores the k lengths from k length words and their indexes (both
  // reordered in place, as CFEC::Decode does): 0, 31 or 87.
  DWORD DecodeLengths(int* pnLenWords, int* pIndex, int* pnOutLens);

 private:
  DWORD CheckLengths(const int* pIndex, const int* pnRecvLens, const int* pnOutLens,
                     int nBuffSize) const;
  void RestoreLost(BYTE** ppPkt, const int* pIndex, const int* pnOutLens, BYTE** ppOut);

  int m_nMaxBlockSize;
};
