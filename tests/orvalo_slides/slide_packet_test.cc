#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "orvalo/PacketAndInfo.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/SlidePacket.h"

namespace {

TEST(SlidePacketHeader, FieldsSitAtTheirOffsetsLittleEndian) {
  tPacketHeader h;
  h.Clear();
  h.SetTag("File Data");
  h.SetType(orvalo::kPacketTypeFileData);
  h.SetScreenState(5);
  h.SetSlide(0x04030201);
  h.SetTime(0x0D0C0B0A);
  h.SetStep(0x1716);
  h.SetFlags(orvalo::kFlagFirst | orvalo::kFlagMore);
  const BYTE* b = h.abRaw;
  EXPECT_EQ(0, std::memcmp(b, "File Data\0\0\0", 12));
  EXPECT_EQ(0x53, b[12]);
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4}), std::vector<BYTE>(b + 16, b + 20));
  EXPECT_EQ((std::vector<BYTE>{0x0A, 0x0B, 0x0C, 0x0D}), std::vector<BYTE>(b + 20, b + 24));
  EXPECT_EQ((std::vector<BYTE>{0x16, 0x17}), std::vector<BYTE>(b + 24, b + 26));
  EXPECT_EQ((std::vector<BYTE>{6, 0, 0, 0}), std::vector<BYTE>(b + 28, b + 32));
  EXPECT_EQ("File Data", h.GetTag());
  EXPECT_EQ(0x04030201u, h.GetSlide());
  EXPECT_EQ(0x0D0C0B0Au, h.GetTime());
  EXPECT_EQ(0x1716, h.GetStep());
}

TEST(SlidePacketHeader, TagWithoutNulIsCutAtTwelveBytes) {
  tPacketHeader h;
  std::memset(h.abRaw, 'A', sizeof h.abRaw);
  EXPECT_EQ(std::string(12, 'A'), h.GetTag());
  h.SetTag("0123456789ABCDEF");
  EXPECT_EQ("0123456789A", h.GetTag());
}

TEST(SlidePacketHeader, PackTouchesOnlyTheStateFields) {
  tPacketHeader h;
  std::memset(h.abRaw, 0xEE, sizeof h.abRaw);
  h.SetType(orvalo::kPacketTypeFileData);
  h.SetFlags(orvalo::kFlagFirst | orvalo::kFlagMore);
  tPacketHeader before = h;
  const tSlideInfo info{.dwScreenState = 15, .dwSlide = 7, .dwTime = 1234, .wStep = 3, .fDone = 0};
  EXPECT_EQ(&h, PackSlideInfo(info, &h));
  EXPECT_EQ(0xF3, h.abRaw[12]);
  EXPECT_EQ(6u, h.GetFlags());
  for (int i : {0, 11, 13, 14, 15, 26, 27, 32, 33, 34, 35}) EXPECT_EQ(before.abRaw[i], h.abRaw[i]) << i;

  tSlideInfo out{};
  EXPECT_EQ(&out, UnpackSlideInfo(h, &out));
  EXPECT_EQ(info, out);
  EXPECT_EQ(15u, out.dwScreenState);

  const tSlideInfo done{.dwScreenState = 0, .dwSlide = 1, .dwTime = 0, .wStep = 0, .fDone = 1};
  PackSlideInfo(done, &h);
  EXPECT_EQ(7u, h.GetFlags());
  EXPECT_EQ(0x03, h.abRaw[12]);
  UnpackSlideInfo(h, &out);
  EXPECT_EQ(done, out);
}

TEST(PtsPacket, ThousandByteBufferHolds119Points) {
  std::vector<BYTE> buf(1000, 0xCC);
  CPtsPacket view(buf.data(), 1000);
  EXPECT_EQ(119u, view.GetRoom());
  EXPECT_EQ(orvalo::kPacketTypePoints, tPacketHeader::Of(buf.data())->GetType());
  EXPECT_EQ("Points :)", tPacketHeader::Of(buf.data())->GetTag());
  EXPECT_EQ(44u, view.GetSize());
  for (int i = 0; i < 119; ++i) ASSERT_TRUE(view.AddPoint(float(i), float(-i)));
  EXPECT_FALSE(view.AddPoint(1, 1));
  EXPECT_EQ(0u, view.GetRoom());
  EXPECT_EQ(996u, view.GetSize());
  EXPECT_EQ(0xCC, buf[996]);  // nothing written past the last point

  CPtsPacket owned(1000);
  EXPECT_EQ(119u, owned.GetRoom());
  EXPECT_EQ(44u, owned.GetSize());
}

TEST(PtsPacket, RoomOfSmallBuffers) {
  struct Case { DWORD dwSize; DWORD dwRoom; } cases[] = {{44, 0}, {51, 0}, {52, 1}, {59, 1}, {60, 2}};
  for (const auto& c : cases) {
    std::vector<BYTE> buf(c.dwSize);
    CPtsPacket view(buf.data(), c.dwSize);
    EXPECT_EQ(c.dwRoom, view.GetRoom()) << c.dwSize;
  }
}

TEST(PtsPacket, ReadsAReceivedPacket) {
  std::vector<BYTE> buf(100);
  CPtsPacket writer(buf.data(), 100);
  writer.SetColor(0x00FF8040);
  writer.SetFirst(TRUE);
  writer.AddPoint(1.5f, -2.25f);
  writer.AddPoint(3e6f, 0.0f);
  const DWORD dwLen = writer.GetSize();
  ASSERT_EQ(60u, dwLen);
  EXPECT_EQ((std::vector<BYTE>{0x40, 0x80, 0xFF, 0}), std::vector<BYTE>(&buf[40], &buf[44]));
  EXPECT_EQ((std::vector<BYTE>{0x00, 0x00, 0xC0, 0x3F}), std::vector<BYTE>(&buf[44], &buf[48]));

  const std::vector<BYTE> received(buf.begin(), buf.begin() + dwLen);
  CPtsPacket reader(received.data(), dwLen);
  EXPECT_EQ(2u, reader.GetNumPoints());
  EXPECT_EQ(0x00FF8040u, reader.GetColor());
  tPtsPoint pt;
  ASSERT_TRUE(reader.GetPoint(1, &pt));
  EXPECT_EQ(3e6f, pt.x);
  EXPECT_FALSE(reader.GetPoint(2, &pt));
  EXPECT_FALSE(reader.AddPoint(0, 0));  // a read view is never written
  EXPECT_EQ(2u, reader.GetNumPoints());
}

TEST(PtsPacket, HostileCountIsRefused) {
  std::vector<BYTE> buf(100);
  CPtsPacket writer(buf.data(), 100);
  writer.AddPoint(1, 1);
  writer.AddPoint(2, 2);
  // Claims 2 points; the lengths below hold fewer.
  for (DWORD dwLen : {0u, 35u, 43u, 44u, 51u, 59u}) {
    CPtsPacket reader(static_cast<const void*>(buf.data()), dwLen);
    EXPECT_FALSE(reader.HasBuffer()) << dwLen;
    EXPECT_EQ(0u, reader.GetNumPoints());
    EXPECT_EQ(0u, reader.GetSize());
    EXPECT_EQ(nullptr, reader.GetPoints());
    DWORD dwType = 99;
    EXPECT_FALSE(orvalo::CheckSlidePacket(buf.data(), dwLen, &dwType)) << dwLen;
    EXPECT_EQ(99u, dwType);
  }
  buf[36] = 0xFF; buf[37] = 0xFF; buf[38] = 0xFF; buf[39] = 0xFF;  // count 2^32 - 1
  CPtsPacket huge(static_cast<const void*>(buf.data()), 100);
  EXPECT_FALSE(huge.HasBuffer());
}

TEST(SlidePacketCheck, RefusesWhatItCannotReadSafely) {
  auto make = [](DWORD dwType, DWORD dwLen, DWORD dwCount) {
    std::vector<BYTE> p(dwLen + 64);
    tPacketHeader::Of(p.data())->SetType(dwType);
    p[36] = static_cast<BYTE>(dwCount);
    return p;
  };
  struct Case { DWORD dwType, dwLen, dwCount; BOOL fOk; } cases[] = {
      {2, 35, 0, FALSE}, {2, 36, 0, TRUE},  {2, 100, 0, TRUE},
      {3, 36, 0, FALSE}, {3, 40, 0, FALSE}, {3, 41, 0, TRUE},
      {1, 43, 0, FALSE}, {1, 44, 0, TRUE},  {1, 52, 1, TRUE}, {1, 59, 2, FALSE}, {1, 60, 2, TRUE},
      {0, 100, 0, FALSE}, {4, 100, 0, FALSE}, {15, 100, 0, FALSE},
  };
  for (const auto& c : cases) {
    const auto p = make(c.dwType, c.dwLen, c.dwCount);
    DWORD dwType = 0;
    EXPECT_EQ(c.fOk, orvalo::CheckSlidePacket(p.data(), c.dwLen, &dwType))
        << "type " << c.dwType << " len " << c.dwLen;
    if (c.fOk) {
      EXPECT_EQ(c.dwType, dwType);
    }
  }
  EXPECT_FALSE(orvalo::CheckSlidePacket(nullptr, 100, nullptr));
}

TEST(PacketAndInfo, OwnsACopy) {
  std::vector<BYTE> src{1, 2, 3, 4, 5};
  CPacketAndInfo pai(src.data(), 5, /*dwSeq=*/77, /*dwLowWater=*/12);
  src[0] = 9;
  ASSERT_TRUE(pai.IsValid());
  EXPECT_EQ(1, pai.GetPacket()[0]);
  EXPECT_EQ(5u, pai.GetLen());
  EXPECT_EQ(77u, pai.GetSeq());
  EXPECT_EQ(12u, pai.GetLowWater());

  CPacketAndInfo none(nullptr, 5, 1, 1);
  EXPECT_FALSE(none.IsValid());
}

}  // namespace
