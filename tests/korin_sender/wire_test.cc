#include "korin/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DebugOutput.h"

namespace {

using TraceCapture = platform::ScopedDebugCapture;

TEST(KorinWire, SequenceKeyAndIndex) {
  struct Case {
    DWORD dwSeq;
    int nK;
    DWORD dwKey;
    BYTE bIndex;
  } cases[] = {
      {4, 4, 4, 0}, {5, 4, 4, 1}, {6, 4, 4, 2}, {7, 4, 4, 3}, {8, 4, 8, 0},
      {1, 1, 1, 0}, {2, 1, 2, 0}, {33, 16, 32, 1}, {0xFFFFFFFFu, 4, 0xFFFFFFFCu, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SEQ_TO_KEY(c.dwSeq, c.nK), c.dwKey) << c.dwSeq << " K=" << c.nK;
    EXPECT_EQ(SEQ_TO_INDEX(c.dwSeq, c.nK), c.bIndex) << c.dwSeq << " K=" << c.nK;
  }
  EXPECT_EQ(KEY_LAST_SEQ(8, 4), 11u);
}

TEST(KorinWire, DataHeaderBytesAreLittleEndian) {
  tSRMHeader header = MakeDataHeader(TRUE, 0x01020305u, 4, 0x11223344u, 0xA1B2);
  BYTE bytes[SRM_HEADER_LEN];
  EncodeSRMHeader(header, bytes);
  const BYTE expected[SRM_HEADER_LEN] = {0x06, 0x4E, 0xCF, 0x20, 0x44, 0x33, 0x22,
                                         0x11, 0x05, 0x03, 0x02, 0x01, 0x04, 0x03,
                                         0x02, 0x01, 0x01, 0xB2, 0xA1};
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 19), std::vector<BYTE>(expected, expected + 19));

  tSRMHeader back;
  DecodeSRMHeader(bytes, &back);
  EXPECT_EQ(back.type, KORIN_TYPE_DATA);
  EXPECT_TRUE(back.fReliable);
  EXPECT_EQ(back.Cookie, KORIN_COOKIE);
  EXPECT_EQ(back.LowWater, 0x11223344u);
  EXPECT_EQ(back.Sequence, 0x01020305u);
  EXPECT_EQ(back.Key, 0x01020304u);
  EXPECT_EQ(back.Index, 1);
  EXPECT_EQ(back.PayloadLen, 0xA1B2);

  EncodeSRMHeader(MakeDataHeader(FALSE, 3, 4, 4, 0), bytes);
  EXPECT_EQ(bytes[0], 0x02);
  EXPECT_EQ(bytes[1], 0x4E);
  EXPECT_EQ(bytes[2], 0xCF);
  EXPECT_EQ(bytes[3], 0x20);
}

TEST(KorinWire, DataPacketReceiptChecks) {
  BYTE packet[SRM_HEADER_LEN];
  EncodeSRMHeader(MakeDataHeader(TRUE, 9, 4, 4, 0), packet);
  tSRMHeader header;
  {
    TraceCapture trace;
    EXPECT_EQ(CheckDataPacket(packet, 19, &header), KorinCheck::Ok);
    EXPECT_EQ(header.Sequence, 9u);
    EXPECT_EQ(header.PayloadLen, 0);
    EXPECT_EQ(trace.Text(), "");
  }
  {
    TraceCapture trace;
    EXPECT_EQ(CheckDataPacket(packet, 18, &header), KorinCheck::TooShort);
    EXPECT_NE(trace.Text().find("Packet too short!\n"), std::string::npos);
  }
  {
    TraceCapture trace;
    packet[2] ^= 0x01;
    EXPECT_EQ(CheckDataPacket(packet, 19, &header), KorinCheck::BadCookie);
    EXPECT_NE(trace.Text().find("BAD COOKIE!\n"), std::string::npos);
  }
  // Reserved bits 3-7 are ignored on receipt.
  packet[2] ^= 0x01;
  packet[0] |= 0xF8;
  EXPECT_EQ(CheckDataPacket(packet, 19, &header), KorinCheck::Ok);
  EXPECT_EQ(header.type, KORIN_TYPE_DATA);
  EXPECT_TRUE(header.fReliable);
}

tNACKPacket MakeNack(int nRanges) {
  tNACKPacket packet;
  packet.Header.HighRelKey = 0x01020304u;
  packet.Header.IndexMask = 0x5u;
  packet.Header.MinSeq = 4;
  packet.Header.MaxSeq = 0x0A0B0C0Du;
  packet.Header.MaxKey = 0x0A0B0C0Cu;
  packet.Header.MaxKeyIndex = 1;
  packet.Header.HighLowWater = 0xCAFEBABEu;
  packet.bNumRanges = static_cast<BYTE>(nRanges);
  for (int i = 0; i < nRanges && i < 16; ++i) {
    packet.Ranges[i].FirstItem = {static_cast<DWORD>(4 + 8 * i), 2};
    packet.Ranges[i].LastItem = {static_cast<DWORD>(8 + 8 * i), 1};
  }
  return packet;
}

TEST(KorinWire, NackPacketLayout) {
  BYTE bytes[NACK_PACKET_MAX_LEN];
  ASSERT_EQ(EncodeNACKPacket(MakeNack(1), bytes, sizeof bytes), 47u);
  const BYTE head[] = {0x01, 0x4E, 0xCF, 0x20, 0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 12), std::vector<BYTE>(head, head + 12));
  EXPECT_EQ(bytes[28], 1);                               // MaxKey index
  EXPECT_EQ(bytes[29], 0xBE);                            // highest low water, unaligned
  EXPECT_EQ(bytes[32], 0xCA);
  EXPECT_EQ(bytes[36], 1);                               // bNumRanges
  const BYTE range[] = {4, 0, 0, 0, 2, 8, 0, 0, 0, 1};  // [4.2-8.1]
  EXPECT_EQ(std::vector<BYTE>(bytes + 37, bytes + 47), std::vector<BYTE>(range, range + 10));

  ASSERT_EQ(EncodeNACKPacket(MakeNack(16), bytes, sizeof bytes), 197u);
  tNACKPacket back;
  ASSERT_EQ(ParseNACKPacket(bytes, 197, &back), KorinCheck::Ok);
  EXPECT_EQ(back.bNumRanges, 16);
  EXPECT_EQ(back.Header.type, KORIN_TYPE_NACK);
  EXPECT_EQ(back.Header.HighRelKey, 0x01020304u);
  EXPECT_EQ(back.Header.IndexMask, 0x5u);
  EXPECT_EQ(back.Header.MaxSeq, 0x0A0B0C0Du);
  EXPECT_EQ(back.Header.HighLowWater, 0xCAFEBABEu);
  EXPECT_EQ(back.Ranges[15].FirstItem.Key, 4u + 8 * 15);
  EXPECT_EQ(back.Ranges[15].LastItem.Count, 1);

  EXPECT_EQ(EncodeNACKPacket(MakeNack(0), bytes, sizeof bytes), 0u);
  EXPECT_EQ(EncodeNACKPacket(MakeNack(17), bytes, sizeof bytes), 0u);
  EXPECT_EQ(EncodeNACKPacket(MakeNack(2), bytes, 56), 0u);
}

TEST(KorinWire, HostileNacksAreRejected) {
  BYTE good[NACK_PACKET_MAX_LEN];
  ASSERT_EQ(EncodeNACKPacket(MakeNack(3), good, sizeof good), 67u);
  struct Case {
    const char* szWhat;
    DWORD dwLen;
    int nOffset;  // byte to change, -1 none
    BYTE bValue;
    KorinCheck expected;
  } cases[] = {
      {"whole", 67, -1, 0, KorinCheck::Ok},
      {"extra bytes", 100, -1, 0, KorinCheck::Ok},
      {"empty", 0, -1, 0, KorinCheck::Empty},
      {"three bytes", 3, -1, 0, KorinCheck::TooShort},
      {"header only", 36, -1, 0, KorinCheck::TooShort},
      {"one range missing", 66, -1, 0, KorinCheck::TooShort},
      {"count 0", 67, 36, 0, KorinCheck::BadRangeCount},
      {"count 17", 197, 36, 17, KorinCheck::BadRangeCount},
      {"count 255", 197, 36, 255, KorinCheck::BadRangeCount},
      {"count past the bytes", 67, 36, 4, KorinCheck::TooShort},
      {"data type", 67, 0, 0x02, KorinCheck::WrongType},
      {"bad cookie", 67, 3, 0x21, KorinCheck::BadCookie},
  };
  for (const Case& c : cases) {
    BYTE bytes[NACK_PACKET_MAX_LEN] = {};
    std::copy(good, good + 67, bytes);
    if (c.nOffset >= 0) bytes[c.nOffset] = c.bValue;
    tNACKPacket packet;
    packet.bNumRanges = 99;
    KorinCheck result = ParseNACKPacket(bytes, c.dwLen, &packet);
    EXPECT_EQ(result, c.expected) << c.szWhat;
    if (result != KorinCheck::Ok) {
      EXPECT_EQ(packet.bNumRanges, 99) << c.szWhat;
    }
  }
}

}  // namespace
