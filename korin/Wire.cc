#include "korin/Wire.h"

#include "ErrStuff/DebugTrace.h"

namespace {

void PutU16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}

void PutU32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

WORD GetU16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

DWORD GetU32(const BYTE* p) {
  return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16) | (DWORD{p[3]} << 24);
}

DWORD CookieOf(const BYTE* p) { return GetU32(p) >> 8; }

}  // namespace

void EncodeSRMHeader(const tSRMHeader& header, BYTE* pOut) {
  DWORD dwFirst = (header.type & 0x3u) | (header.fReliable ? 0x4u : 0u) |
                  ((header.Cookie & 0xFFFFFFu) << 8);
  PutU32(pOut + 0, dwFirst);
  PutU32(pOut + 4, header.LowWater);
  PutU32(pOut + 8, header.Sequence);
  PutU32(pOut + 12, header.Key);
  pOut[16] = header.Index;
  PutU16(pOut + 17, header.PayloadLen);
}

void DecodeSRMHeader(const BYTE* pIn, tSRMHeader* pHeader) {
  DWORD dwFirst = GetU32(pIn);
  pHeader->type = static_cast<BYTE>(dwFirst & 0x3u);
  pHeader->fReliable = (dwFirst & 0x4u) ? TRUE : FALSE;
  pHeader->Cookie = dwFirst >> 8;
  pHeader->LowWater = GetU32(pIn + 4);
  pHeader->Sequence = GetU32(pIn + 8);
  pHeader->Key = GetU32(pIn + 12);
  pHeader->Index = pIn[16];
  pHeader->PayloadLen = GetU16(pIn + 17);
}

tSRMHeader MakeDataHeader(BOOL fReliable, DWORD dwSequence, int nK, DWORD dwLowWater,
                          WORD wPayloadLen) {
  tSRMHeader header;
  header.type = KORIN_TYPE_DATA;
  header.fReliable = fReliable ? TRUE : FALSE;
  header.Cookie = KORIN_COOKIE;
  header.LowWater = dwLowWater;
  header.Sequence = dwSequence;
  header.Key = SEQ_TO_KEY(dwSequence, nK);
  header.Index = SEQ_TO_INDEX(dwSequence, nK);
  header.PayloadLen = wPayloadLen;
  return header;
}

void EncodeNACKHeader(const tNACKHeader& header, BYTE* pOut) {
  PutU32(pOut + 0, (header.type & 0x3u) | ((header.Cookie & 0xFFFFFFu) << 8));
  PutU32(pOut + 4, 0);
  PutU32(pOut + 8, header.HighRelKey);
  PutU32(pOut + 12, header.IndexMask);
  PutU32(pOut + 16, header.MinSeq);
  PutU32(pOut + 20, header.MaxSeq);
  PutU32(pOut + 24, header.MaxKey);
  pOut[28] = header.MaxKeyIndex;
  PutU32(pOut + 29, header.HighLowWater);
  pOut[33] = pOut[34] = pOut[35] = 0;
}

void DecodeNACKHeader(const BYTE* pIn, tNACKHeader* pHeader) {
  DWORD dwFirst = GetU32(pIn);
  pHeader->type = static_cast<BYTE>(dwFirst & 0x3u);
  pHeader->Cookie = dwFirst >> 8;
  pHeader->HighRelKey = GetU32(pIn + 8);
  pHeader->IndexMask = GetU32(pIn + 12);
  pHeader->MinSeq = GetU32(pIn + 16);
  pHeader->MaxSeq = GetU32(pIn + 20);
  pHeader->MaxKey = GetU32(pIn + 24);
  pHeader->MaxKeyIndex = pIn[28];
  pHeader->HighLowWater = GetU32(pIn + 29);
}

void EncodeNACKRange(const tNACKRange& range, BYTE* pOut) {
  PutU32(pOut + 0, range.FirstItem.Key);
  pOut[4] = range.FirstItem.Count;
  PutU32(pOut + 5, range.LastItem.Key);
  pOut[9] = range.LastItem.Count;
}

void DecodeNACKRange(const BYTE* pIn, tNACKRange* pRange) {
  pRange->FirstItem.Key = GetU32(pIn + 0);
  pRange->FirstItem.Count = pIn[4];
  pRange->LastItem.Key = GetU32(pIn + 5);
  pRange->LastItem.Count = pIn[9];
}

DWORD EncodeNACKPacket(const tNACKPacket& packet, BYTE* pOut, DWORD dwCapacity) {
  DWORD dwRanges = packet.bNumRanges;
  if (dwRanges == 0 || dwRanges > NACK_MAX_RANGES) return 0;
  DWORD dwLen = NACK_PACKET_LEN(dwRanges);
  if (pOut == nullptr || dwCapacity < dwLen) return 0;
  tNACKHeader header = packet.Header;
  header.type = KORIN_TYPE_NACK;
  header.Cookie = KORIN_COOKIE;
  EncodeNACKHeader(header, pOut);
  pOut[NACK_HEADER_LEN] = packet.bNumRanges;
  for (DWORD i = 0; i < dwRanges; ++i) {
    EncodeNACKRange(packet.Ranges[i], pOut + NACK_RANGES_OFFSET + i * NACK_RANGE_LEN);
  }
  return dwLen;
}

KorinCheck CheckDataPacket(const BYTE* pData, DWORD dwLen, tSRMHeader* pHeader) {
  if (pData == nullptr || dwLen < SRM_HEADER_LEN) {
    DebugTrace("Packet too short!\n");
    return dwLen == 0 ? KorinCheck::Empty : KorinCheck::TooShort;
  }
  if (CookieOf(pData) != KORIN_COOKIE) {
    DebugTrace("BAD COOKIE!\n");
    return KorinCheck::BadCookie;
  }
  DecodeSRMHeader(pData, pHeader);
  return KorinCheck::Ok;
}

KorinCheck ParseNACKPacket(const BYTE* pData, DWORD dwLen, tNACKPacket* pPacket) {
  if (pData == nullptr || dwLen == 0) return KorinCheck::Empty;
  if (dwLen < 4) return KorinCheck::TooShort;  // not even a cookie
  if (CookieOf(pData) != KORIN_COOKIE) {
    DebugTrace("BAD COOKIE!\n");
    return KorinCheck::BadCookie;
  }
  if ((pData[0] & 0x3u) != KORIN_TYPE_NACK) return KorinCheck::WrongType;
  if (dwLen < NACK_RANGES_OFFSET) return KorinCheck::TooShort;
  BYTE bNumRanges = pData[NACK_HEADER_LEN];
  if (bNumRanges == 0 || bNumRanges > NACK_MAX_RANGES) return KorinCheck::BadRangeCount;
  if (dwLen < NACK_PACKET_LEN(bNumRanges)) return KorinCheck::TooShort;
  DecodeNACKHeader(pData, &pPacket->Header);
  pPacket->bNumRanges = bNumRanges;
  for (DWORD i = 0; i < bNumRanges; ++i) {
    DecodeNACKRange(pData + NACK_RANGES_OFFSET + i * NACK_RANGE_LEN, &pPacket->Ranges[i]);
  }
  return KorinCheck::Ok;
}
