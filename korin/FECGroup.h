// CFECGroup: the packets received so far of one FEC group (K sequence numbers
// starting at its key), source packets and repairs alike, until the group can
// be decoded. Used by one thread at a time; the owner guards it.
#pragma once

#include "platform/Win32Types.h"
#include "korin/Wire.h"

#include "fec/FECVarSize.h"

class CFECGroup {
 public:
  static constexpr int kMaxK = KORIN_MAX_K;

  explicit CFECGroup(int nK);
  ~CFECGroup();
  CFECGroup(const CFECGroup&) = delete;
  CFECGroup& operator=(const CFECGroup&) = delete;

  // Stores a copy of the payload (the caller keeps its own). *pfNotStored is
  // TRUE unless a copy was made. FALSE when the header's key is not this
  // group's or the copy cannot be allocated; with K = 1, a full group or an
  // index already held the packet is not stored and the result is TRUE.
  BOOL AddPacket(const BYTE* pPayload, DWORD dwLen, const tSRMHeader& header, BOOL* pfNotStored);

  BOOL Full() const { return m_bStored == m_nK; }
  BOOL Complete() const { return m_bSources == m_nK; }  // all K source packets held
  int GetNumCached() const { return m_bStored; }
  int GetHighestIndex() const { return m_bHighIndex; }
  DWORD GetFECKey() const { return m_dwKey; }
  void SetFECKey(DWORD dwKey) { m_dwKey = dwKey; }

  // Frees the copies; key and counts become 0.
  void Clear();
  // Hands everything to pTo (cleared first) and leaves this group empty.
  void Move(CFECGroup* pTo);

  // Restores the K source packets of a full group into ppOut (K buffers of
  // dwMaxPacketSize bytes) and their lengths into pnLens. FALSE when the
  // group is not full or the packets do not decode.
  BOOL Decode(BYTE** ppOut, DWORD dwMaxPacketSize, int* pnLens, CFECVarSize* pCoder);

 private:
  int m_nK;
  DWORD m_dwKey;
  BYTE* m_pPackets[kMaxK];     // owned copies, m_bStored of them
  int m_nIndexes[kMaxK];       // header index of each copy
  int m_nRecvLens[kMaxK];      // payload bytes received
  int m_nHeaderLens[kMaxK];    // the header's payload-length field
  BYTE m_bStored;
  BYTE m_bSources;             // stored copies with index < K
  BYTE m_bHighIndex;
};
