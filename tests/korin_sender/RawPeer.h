// A raw Korin peer for tests: a plain multicast port that reads the sender's
// datagrams as bytes and sends hand-made NACKs.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "fec/FECVarSize.h"
#include "korin/Wire.h"
#include "mcast/Multicast.h"

namespace korin_test {

struct DataPacket {
  tSRMHeader header;
  std::vector<BYTE> bytes;    // the whole datagram
  std::vector<BYTE> payload;  // after the header
};

// What a receiver does with K packets of one key (sources and repairs): the
// K source payloads with their exact lengths, or nothing if decoding fails.
inline std::vector<std::vector<BYTE>> DecodeGroup(int nK, std::vector<DataPacket> packets) {
  constexpr int kMaxLen = 1460;
  CFECVarSize fec;
  if (static_cast<int>(packets.size()) != nK || fec.Init(nK, kMaxLen) != 0) return {};
  BYTE* ppPkt[KORIN_MAX_K];
  int nIndex[KORIN_MAX_K], nRecv[KORIN_MAX_K], nHdr[KORIN_MAX_K], nLens[KORIN_MAX_K] = {};
  std::vector<std::vector<BYTE>> out(nK, std::vector<BYTE>(kMaxLen));
  BYTE* ppOut[KORIN_MAX_K];
  for (int i = 0; i < nK; ++i) {
    ppPkt[i] = packets[i].payload.data();
    nIndex[i] = packets[i].header.Index;
    nRecv[i] = static_cast<int>(packets[i].payload.size());
    nHdr[i] = packets[i].header.PayloadLen;
    ppOut[i] = out[i].data();
  }
  if (fec.Decode(ppPkt, nIndex, nRecv, nHdr, kMaxLen, ppOut, nLens) != 0) return {};
  for (int i = 0; i < nK; ++i) out[i].resize(nLens[i]);
  return out;
}

class RawPeer {
 public:
  // Opens on the group with loopback as given.
  ::testing::AssertionResult Open(const char* szAddr, WORD wPort, BOOL fLoopback) {
    if (m_port.Open(szAddr, wPort, 1, fLoopback) != 0) {
      return ::testing::AssertionFailure() << "peer open failed " << m_port.GetLastWSAError();
    }
    return ::testing::AssertionSuccess();
  }

  // The next data datagram within lWaitSec seconds; NACKs (the peer's own
  // among them) are passed over.
  std::optional<DataPacket> NextData(long lWaitSec = 10) {
    for (;;) {
      BOOL fRead = FALSE, fWrite = FALSE;
      m_port.WaitReady(lWaitSec, 0, &fRead, &fWrite, TRUE, FALSE);
      if (!fRead) return std::nullopt;
      BYTE buf[2048];
      int nBytes = m_port.Recv(buf, sizeof buf);
      if (nBytes <= 0) continue;
      DataPacket packet;
      packet.bytes.assign(buf, buf + nBytes);
      if (nBytes >= static_cast<int>(SRM_HEADER_LEN) && (buf[0] & 0x3) == KORIN_TYPE_NACK) {
        continue;
      }
      if (CheckDataPacket(buf, static_cast<DWORD>(nBytes), &packet.header) != KorinCheck::Ok) {
        continue;
      }
      packet.payload.assign(buf + SRM_HEADER_LEN, buf + nBytes);
      return packet;
    }
  }

  // Sends a NACK with the ranges and the statistics fields a receiver fills.
  bool SendNack(const std::vector<tNACKRange>& ranges, DWORD dwHighRelKey, DWORD dwIndexMask) {
    tNACKPacket packet;
    packet.Header.HighRelKey = dwHighRelKey;
    packet.Header.IndexMask = dwIndexMask;
    packet.bNumRanges = static_cast<BYTE>(ranges.size());
    for (size_t i = 0; i < ranges.size() && i < NACK_MAX_RANGES; ++i) packet.Ranges[i] = ranges[i];
    BYTE bytes[NACK_PACKET_MAX_LEN];
    DWORD dwLen = EncodeNACKPacket(packet, bytes, sizeof bytes);
    return SendRaw(bytes, dwLen);
  }

  bool SendRaw(BYTE* pBytes, DWORD dwLen) {
    return dwLen > 0 && m_port.Send(pBytes, dwLen) == static_cast<int>(dwLen);
  }

  CMulticast& Port() { return m_port; }

 private:
  CMulticast m_port;
};

}  // namespace korin_test
