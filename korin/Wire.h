// Korin's two datagram layouts and the arithmetic both ends share.
//
// A data packet is a 19-byte tSRMHeader followed by the payload; a NACK packet
// is a 36-byte tNACKHeader, a range count and 1..16 ranges of 10 bytes. All
// multi-byte fields are little-endian on the wire. The structures below hold
// the fields in host form; the Encode/Decode functions are the only place that
// knows the byte layout, so it holds on any host.
//
// Sequence numbers: K (1..16) is the FEC group size. The key of a sequence is
// the sequence of the first packet of its group, its index the position in
// the group. Source packets have indexes 0..K-1, parity repairs K..255. The
// first reliable sequence a sender uses is K.
#pragma once

#include "platform/Win32Types.h"

inline constexpr DWORD KORIN_COOKIE = 0x20CF4E;  // bits 8-31 of the first word
inline constexpr BYTE KORIN_TYPE_NACK = 1;
inline constexpr BYTE KORIN_TYPE_DATA = 2;
inline constexpr int KORIN_MAX_K = 16;

inline constexpr DWORD SRM_HEADER_LEN = 19;
inline constexpr DWORD NACK_HEADER_LEN = 36;
inline constexpr DWORD NACK_RANGE_LEN = 10;
inline constexpr DWORD NACK_MAX_RANGES = 16;
inline constexpr DWORD NACK_RANGES_OFFSET = NACK_HEADER_LEN + 1;  // after bNumRanges
inline constexpr DWORD NACK_PACKET_MAX_LEN = NACK_RANGES_OFFSET + NACK_RANGE_LEN * NACK_MAX_RANGES;

// REQUIRES: nK > 0.
constexpr DWORD SEQ_TO_KEY(DWORD dwSeq, int nK) {
  return dwSeq - dwSeq % static_cast<DWORD>(nK);
}
constexpr BYTE SEQ_TO_INDEX(DWORD dwSeq, int nK) {
  return static_cast<BYTE>(dwSeq % static_cast<DWORD>(nK));
}
// The sequence field of a parity repair of `dwKey`: the key's last sequence.
constexpr DWORD KEY_LAST_SEQ(DWORD dwKey, int nK) {
  return dwKey + static_cast<DWORD>(nK) - 1;
}
// Length of a NACK packet with `dwNumRanges` ranges.
constexpr DWORD NACK_PACKET_LEN(DWORD dwNumRanges) {
  return NACK_RANGES_OFFSET + NACK_RANGE_LEN * dwNumRanges;
}

// Data packet header (19 bytes on the wire).
struct tSRMHeader {
  BYTE type = KORIN_TYPE_DATA;  // bits 0-1 of the first word
  BOOL fReliable = FALSE;       // bit 2
  DWORD Cookie = KORIN_COOKIE;  // bits 8-31 (bits 3-7 are written as zero)
  DWORD LowWater = 0;           // the sender's key low water
  DWORD Sequence = 0;
  DWORD Key = 0;
  BYTE Index = 0;
  WORD PayloadLen = 0;
};

// One end of a NACK range: a key and the number of its packets missing.
struct tNACKItem {
  DWORD Key = 0;
  BYTE Count = 0;
};

// Keys strictly between the first and last key count as missing all K
// packets; LastItem.Count 0 means the range covers the first key only.
struct tNACKRange {
  tNACKItem FirstItem;
  tNACKItem LastItem;
};

// NACK header (36 bytes on the wire): a receiver's running statistics.
struct tNACKHeader {
  BYTE type = 0;  // bits 0-1 of the first word; bits 2-7 written as zero
  DWORD Cookie = 0;
  DWORD HighRelKey = 0;      // highest key of any reliable data packet seen
  DWORD IndexMask = 0;       // bit i: source index i of HighRelKey is held
  DWORD MinSeq = 0xFFFFFFFFu;
  DWORD MaxSeq = 0;
  DWORD MaxKey = 0;
  BYTE MaxKeyIndex = 0;
  DWORD HighLowWater = 0;    // highest LowWater seen in a data header
};

struct tNACKPacket {
  tNACKHeader Header;
  BYTE bNumRanges = 0;
  tNACKRange Ranges[NACK_MAX_RANGES];
};

// Writes the 19 header bytes.
void EncodeSRMHeader(const tSRMHeader& header, BYTE* pOut);
// Reads 19 header bytes; performs no checks.
void DecodeSRMHeader(const BYTE* pIn, tSRMHeader* pHeader);
// A data header as the sender writes it: type 2, the cookie, Key and Index
// from the sequence.
tSRMHeader MakeDataHeader(BOOL fReliable, DWORD dwSequence, int nK, DWORD dwLowWater,
                          WORD wPayloadLen);

void EncodeNACKHeader(const tNACKHeader& header, BYTE* pOut);  // 36 bytes
void DecodeNACKHeader(const BYTE* pIn, tNACKHeader* pHeader);
void EncodeNACKRange(const tNACKRange& range, BYTE* pOut);     // 10 bytes
void DecodeNACKRange(const BYTE* pIn, tNACKRange* pRange);

// Writes a NACK packet: the header with type 1 and the cookie, bNumRanges and
// the ranges. Returns its length (37 + 10 x ranges), or 0 when bNumRanges is
// 0 or above 16 or dwCapacity is too small.
DWORD EncodeNACKPacket(const tNACKPacket& packet, BYTE* pOut, DWORD dwCapacity);

enum class KorinCheck {
  Ok,
  Empty,           // no bytes at all
  TooShort,        // shorter than its layout needs
  BadCookie,
  WrongType,       // not the packet type asked for
  BadRangeCount,   // NACK range count 0 or above 16
};

// The receiver's check of a data datagram: shorter than 19 bytes traces
// "Packet too short!\n", a wrong cookie "BAD COOKIE!\n". On Ok *pHeader holds
// the decoded header; on any other result it is left unchanged.
KorinCheck CheckDataPacket(const BYTE* pData, DWORD dwLen, tSRMHeader* pHeader);

// The sender's check of a NACK datagram. Empty, wrong type, a range count 0 or
// above 16, or fewer bytes than 37 + 10 x count are ignored; a wrong cookie
// traces "BAD COOKIE!\n". Ranges are read only from the received bytes. On Ok
// *pPacket holds the header, the count and that many ranges.
KorinCheck ParseNACKPacket(const BYTE* pData, DWORD dwLen, tNACKPacket* pPacket);
