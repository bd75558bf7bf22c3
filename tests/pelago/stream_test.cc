// The send stream: group-size rule, checksum, trailer, and the sender's
// blocks in carousel order.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Pelago/LittleEndian.h"
#include "Pelago/SendFile.h"
#include "Pelago/SendStream.h"
#include "fec/FEC.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Random.h"
#include "tests/pelago/PelagoTestUtil.h"

using pelago::ComputeLayout;
using pelago::tStreamLayout;
using pelago::TrailerFault;

TEST(StreamLayoutTest, GroupSizeRule) {
  struct {
    std::uint64_t L;
    DWORD P, K;
    DWORD k, groups, pad, total;
  } cases[] = {
      {1024, 1024, 16, 1, 1, 0, 1024},                 // exactly one payload
      {10000 + 40 + 8, 1024, 16, 10, 1, 192, 10240},   // 10,000-byte file, 40-byte meta dump
      {40000, 1024, 16, 14, 3, 3008, 43008},           // balanced groups
      {16 * 1024 * 16, 1024, 16, 16, 16, 0, 262144},   // G = K: full groups
      {16 * 1024 * 16 + 1, 1024, 16, 16, 17, 16383, 17 * 16384},
      {41, 4, 256, 11, 1, 3, 44},
      {20 * 1048576 + 48, 1024, 16, 16, 1281, 16336, 1281 * 16384},
  };
  for (const auto& c : cases) {
    tStreamLayout l;
    ASSERT_EQ(0u, ComputeLayout(c.L, c.P, c.K, &l)) << c.L;
    EXPECT_EQ(c.k, l.dwK) << c.L;
    EXPECT_EQ(c.groups, l.dwGroups) << c.L;
    EXPECT_EQ(c.pad, l.dwPadLen) << c.L;
    EXPECT_EQ(c.total, l.dwTotalLen) << c.L;
    EXPECT_EQ(l.dwGroups * l.dwK, l.dwBlocks);
    EXPECT_EQ(c.L + l.dwPadLen, l.dwTotalLen);
  }
  tStreamLayout l;
  EXPECT_EQ(87u, ComputeLayout(0, 1024, 16, &l));
  EXPECT_EQ(87u, ComputeLayout(1ull << 32, 1024, 16, &l));
}

TEST(StreamTrailerTest, ChecksumIgnoresItsOwnSlot) {
  std::vector<BYTE> s(64);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<BYTE>(i * 7);
  pelago::StoreLE32(s.data() + 60, 0);
  DWORD dwSum = pelago::AddChecksum(0, s.data(), 60);
  pelago::StoreLE32(s.data() + 60, 0xDEADBEEF);
  EXPECT_EQ(dwSum, pelago::AddChecksum(0, s.data(), 60));
}

TEST(StreamTrailerTest, ParserRefusesWhatDoesNotFit) {
  auto make = [](const std::string& name, DWORD dwSize, DWORD dwMetaLenDelta) {
    std::vector<BYTE> t(32 + name.size() + 8, 0);
    pelago::StoreLE32(t.data(), dwSize);
    std::memcpy(t.data() + 32, name.data(), name.size());
    pelago::StoreLE32(t.data() + 32 + name.size(), 32 + name.size() + dwMetaLenDelta);
    return t;
  };
  struct {
    std::string name;
    DWORD dwSize, dwDelta;
    std::uint64_t qwTotal;
    TrailerFault expected;
  } cases[] = {
      {"file.cab", 100, 0, 1024, TrailerFault::kNone},
      {"file.cab", 100, 1, 1024, TrailerFault::kMetaLength},       // runs past the tail
      {"file.cab", 100, 0xFFFFFF00u, 1024, TrailerFault::kMetaLength},
      {"file.cab", 1024, 0, 1024, TrailerFault::kSize},             // no room for the data
      {"../evil", 1, 0, 1024, TrailerFault::kName},
      {"a/b", 1, 0, 1024, TrailerFault::kName},
      {"a\\b", 1, 0, 1024, TrailerFault::kName},
      {"..", 1, 0, 1024, TrailerFault::kName},
      {".", 1, 0, 1024, TrailerFault::kName},
      {std::string("a\0b", 3), 1, 0, 1024, TrailerFault::kName},
      {"", 1, 0, 1024, TrailerFault::kName},
  };
  for (const auto& c : cases) {
    std::vector<BYTE> t = make(c.name, c.dwSize, c.dwDelta);
    CPelagoFile f;
    DWORD dwSum = 0, dwMeta = 0;
    EXPECT_EQ(c.expected, pelago::ParseTrailer(t.data(), static_cast<DWORD>(t.size()), c.qwTotal,
                                               &f, &dwSum, &dwMeta))
        << c.name << " " << c.dwDelta;
    if (c.expected == TrailerFault::kNone) {
      EXPECT_EQ(c.name, f.GetName());
      EXPECT_EQ(c.dwSize, f.GetSize());
    }
  }
  BYTE tiny[4] = {};
  CPelagoFile f;
  DWORD a, b;
  EXPECT_EQ(TrailerFault::kMetaLength, pelago::ParseTrailer(tiny, 4, 4, &f, &a, &b));
}

TEST(SendFileTest, CarouselOrderDataAndParityRebuildTheStream) {
  pelago_test::TempDir dir;
  const std::string data = pelago_test::RandomBytes(40000 - 48, 3);  // L = 40,000 with "data.bin"
  const std::string path = dir.Write("data.bin", data);
  CPelagoSession session;
  ASSERT_EQ(0, session.SessionInit("239.1.1.1", 5000, 1, 1000000, 9, 16, 20, 1024));
  CPelagoFile record;
  ASSERT_EQ(0u, record.Set(path.c_str()));
  CSendFile sf;
  ASSERT_EQ(0u, sf.Init(&session, &record, 42));
  ASSERT_EQ(3u, sf.GetGroups());
  ASSERT_EQ(14u, sf.GetK());
  ASSERT_EQ(43008u, sf.GetTotalLen());

  std::vector<std::vector<BYTE>> blocks(3 * 20, std::vector<BYTE>(1024));
  unsigned long dwRounds = 0;
  for (DWORD n = 0; n < 3 * 20; ++n) {
    tPacketHeader h;
    h.Clear();
    std::vector<BYTE> buf(1024);
    ASSERT_EQ(0u, sf.NextPacket(buf.data(), 1024, &h, &dwRounds));
    EXPECT_EQ(42u, h.GetFileId());
    EXPECT_EQ(43008u, h.GetTotalLen());
    EXPECT_EQ(14u, h.GetK());
    EXPECT_EQ(n % 3, h.GetGroupId());  // index 0 of every group, then index 1, ...
    EXPECT_EQ(n / 3, h.GetBlockIndex());
    blocks[h.GetGroupId() * 20 + h.GetBlockIndex()] = buf;
    EXPECT_EQ(n + 1 == 60 ? 1u : 0u, dwRounds);
  }
  // The data blocks are the stream: data, zero padding, meta dump, length, checksum.
  std::vector<BYTE> stream;
  for (DWORD g = 0; g < 3; ++g)
    for (DWORD i = 0; i < 14; ++i)
      stream.insert(stream.end(), blocks[g * 20 + i].begin(), blocks[g * 20 + i].end());
  ASSERT_EQ(43008u, stream.size());
  EXPECT_EQ(0, std::memcmp(stream.data(), data.data(), data.size()));
  for (std::size_t i = data.size(); i < 43008 - 48; ++i) ASSERT_EQ(0, stream[i]) << i;
  EXPECT_EQ(0, std::memcmp(stream.data() + 43008 - 48 + 32, "data.bin", 8));
  EXPECT_EQ(40u, pelago::LoadLE32(stream.data() + 43008 - 8));
  const DWORD dwStored = pelago::LoadLE32(stream.data() + 43008 - 4);
  EXPECT_EQ(dwStored, pelago::AddChecksum(0, stream.data(), 43008 - 4));
  EXPECT_EQ(dwStored, sf.GetChecksum());

  // Any 14 of a group's 20 blocks give its data back: here the 6 parity
  // blocks and 8 data blocks.
  CFEC fec;
  ASSERT_EQ(0u, fec.Init(14, 256));
  BYTE* pkt[14];
  int idx[14];
  std::vector<std::vector<BYTE>> out(14, std::vector<BYTE>(1024));
  BYTE* pOut[14];
  for (int j = 0; j < 14; ++j) {
    int i = j < 6 ? 14 + j : j - 6 + 6;  // 14..19, then 6..13
    pkt[j] = blocks[1 * 20 + i].data();
    idx[j] = i;
    pOut[j] = out[j].data();
  }
  ASSERT_EQ(0u, fec.Decode(pkt, idx, 1024, pOut));
  for (int i = 0; i < 14; ++i) EXPECT_EQ(blocks[20 + i], out[i]) << i;
}

TEST(SendFileTest, RefusesGroupsOfPartialDwords) {
  auto prev = platform::SetDebugOutputHook([](std::string_view) {});
  pelago_test::TempDir dir;
  const std::string path = dir.Write("x", std::string(100, 'x'));
  CPelagoSession session;
  ASSERT_EQ(0, session.SessionInit("239.1.1.1", 5000, 1, 1000000, 9, 16, 20, 1023));
  CPelagoFile record;
  ASSERT_EQ(0u, record.Set(path.c_str()));
  CSendFile sf;
  EXPECT_EQ(87u, sf.Init(&session, &record, 1));  // k = 1: 1023 bytes, not whole DWORDs
  platform::SetDebugOutputHook(prev);
}
