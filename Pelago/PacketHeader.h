// tPacketHeader: the 24-byte header in front of every datagram of a file
// multicast session, held as its wire bytes (all fields little-endian):
//   0 source id, 4 sequence number, 8 file id, 12 total stream length,
//   16 group id, 20 block index, 21 k (data blocks per group), 22 reserved.
// k is one byte on the wire; the value 0 stands for 256, the only group size a
// byte cannot hold.
//
// The slide protocol of the add-in library has a record of the same name; each
// lives in its own library's namespace, so that the two never bind to each
// other's code in one process.
#pragma once

#include "Pelago/LittleEndian.h"
#include "platform/Win32Types.h"

namespace pelago {

struct tPacketHeader {
  static constexpr DWORD kSize = 24;

  BYTE m_Bytes[kSize];

  DWORD GetSourceId() const { return pelago::LoadLE32(m_Bytes + 0); }
  DWORD GetSeqNo() const { return pelago::LoadLE32(m_Bytes + 4); }
  DWORD GetFileId() const { return pelago::LoadLE32(m_Bytes + 8); }
  DWORD GetTotalLen() const { return pelago::LoadLE32(m_Bytes + 12); }
  DWORD GetGroupId() const { return pelago::LoadLE32(m_Bytes + 16); }
  DWORD GetBlockIndex() const { return m_Bytes[20]; }
  // 1..256.
  DWORD GetK() const { return m_Bytes[21] == 0 ? 256 : m_Bytes[21]; }

  void SetSourceId(DWORD v) { pelago::StoreLE32(m_Bytes + 0, v); }
  void SetSeqNo(DWORD v) { pelago::StoreLE32(m_Bytes + 4, v); }
  void SetFileId(DWORD v) { pelago::StoreLE32(m_Bytes + 8, v); }
  void SetTotalLen(DWORD v) { pelago::StoreLE32(m_Bytes + 12, v); }
  void SetGroupId(DWORD v) { pelago::StoreLE32(m_Bytes + 16, v); }
  // REQUIRES: v < 256.
  void SetBlockIndex(DWORD v) { m_Bytes[20] = static_cast<BYTE>(v); }
  // REQUIRES: 1 <= v <= 256.
  void SetK(DWORD v) { m_Bytes[21] = static_cast<BYTE>(v); }
  // Senders write zeros into the reserved bytes.
  void Clear() {
    for (BYTE& b : m_Bytes) b = 0;
  }
};
static_assert(sizeof(tPacketHeader) == tPacketHeader::kSize);

}  // namespace pelago

using pelago::tPacketHeader;
