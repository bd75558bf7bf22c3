// Test helpers: the payloads, source headers and parity repairs of a Korin
// stream, made the way the sender makes them.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "fec/FECVarSize.h"
#include "korin/Wire.h"

namespace korin_test {

inline constexpr DWORD kMaxPacket = 1460;

// A payload of its own length and bytes for every sequence.
inline std::vector<BYTE> PayloadOf(DWORD dwSeq) {
  std::vector<BYTE> payload(20 + (dwSeq * 37) % 300);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq * 7 + i);
  return payload;
}

struct Datagram {
  tSRMHeader header;
  std::vector<BYTE> payload;
};

inline Datagram Source(DWORD dwSeq, int nK, DWORD dwLowWater = 4, BOOL fReliable = TRUE) {
  Datagram d;
  d.payload = PayloadOf(dwSeq);
  d.header = MakeDataHeader(fReliable, dwSeq, nK, dwLowWater, static_cast<WORD>(d.payload.size()));
  return d;
}

// Parity repair nIndex (K..255) of the group at dwKey.
inline Datagram Parity(DWORD dwKey, int nK, int nIndex, DWORD dwLowWater = 4) {
  CFECVarSize coder;
  coder.Init(nK, kMaxPacket);
  std::vector<std::vector<BYTE>> sources;
  std::vector<BYTE*> ppSrc;
  std::vector<int> lens;
  for (int i = 0; i < nK; ++i) sources.push_back(PayloadOf(dwKey + i));
  for (auto& s : sources) {
    ppSrc.push_back(s.data());
    lens.push_back(static_cast<int>(s.size()));
  }
  Datagram d;
  d.payload.resize(kMaxPacket);
  int nOutLen = 0;
  BYTE bLenParity[4] = {};
  coder.Encode(ppSrc.data(), lens.data(), d.payload.data(), kMaxPacket, &nOutLen, bLenParity,
               nIndex);
  d.payload.resize(nOutLen);
  int nLenWord = 0;
  std::memcpy(&nLenWord, bLenParity, sizeof nLenWord);
  d.header = MakeDataHeader(TRUE, KEY_LAST_SEQ(dwKey, nK), nK, dwLowWater,
                            static_cast<WORD>(nLenWord));
  d.header.Key = dwKey;
  d.header.Index = static_cast<BYTE>(nIndex);
  return d;
}

// The whole datagram as it travels.
inline std::vector<BYTE> Wire(const Datagram& d) {
  std::vector<BYTE> bytes(SRM_HEADER_LEN + d.payload.size());
  EncodeSRMHeader(d.header, bytes.data());
  if (!d.payload.empty()) std::memcpy(bytes.data() + SRM_HEADER_LEN, d.payload.data(), d.payload.size());
  return bytes;
}

}  // namespace korin_test
