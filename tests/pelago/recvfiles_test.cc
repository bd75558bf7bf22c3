// The receiver's file map and assembly, fed with a sender's datagrams
// without a network.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Pelago/RecvFiles.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "tests/pelago/PelagoTestUtil.h"

using pelago_test::MakeDatagrams;
using pelago_test::RandomBytes;
using pelago_test::tDatagram;
using pelago_test::TempDir;

namespace {

class RecvFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_prev = platform::SetDebugOutputHook([](std::string_view) {});
  }
  void TearDown() override { platform::SetDebugOutputHook(m_prev); }

  // Feeds datagrams (each kept with probability 1 - loss) until the file
  // finishes; returns the finishing outcome.
  CRecvFiles::tOutcome Feed(CRecvFiles& files, const std::vector<tDatagram>& dgs, double loss,
                            unsigned seed, std::size_t* pnUsed = nullptr) {
    std::mt19937 rng(seed);
    std::bernoulli_distribution drop(loss);
    std::size_t n = 0;
    for (const tDatagram& d : dgs) {
      ++n;
      if (drop(rng)) continue;
      CRecvFiles::tOutcome o = files.OnDatagram(d.header, d.payload.data(),
                                                static_cast<DWORD>(d.payload.size()));
      if (o.fFinished) {
        if (pnUsed != nullptr) *pnUsed = n;
        return o;
      }
      EXPECT_EQ(0u, o.dwError);
    }
    ADD_FAILURE() << "file never finished";
    return {};
  }

  TempDir m_src, m_dst;
  platform::DebugOutputHook m_prev;
};

}  // namespace

TEST_F(RecvFilesTest, RestoresFilesWithNameSizeAndTimesUnderLoss) {
  struct {
    std::size_t nSize;
    int K, N;
    double loss;
  } cases[] = {
      {1, 16, 32, 0.0},
      {1024 - 48 - 0, 16, 32, 0.0},  // exactly one payload with an 8-character name
      {10000, 16, 32, 0.1},
      {200000, 16, 64, 0.3},
      {70000, 4, 8, 0.2},
  };
  int nCase = 0;
  for (const auto& c : cases) {
    const std::string name = "file" + std::to_string(nCase) + ".x";
    const std::string data = RandomBytes(c.nSize, static_cast<unsigned>(nCase) + 1);
    const std::string path = m_src.Write(name, data);
    FILETIME ft = platform::FileTimeFromUnix(1600000000 + nCase, 500);
    ASSERT_EQ(0u, platform::SetFileTimes(path, &ft, &ft));
    std::vector<tDatagram> dgs = MakeDatagrams(path, 100 + nCase, c.K, c.N, 1024, 20000);
    CRecvFiles files(m_dst.Path());
    CRecvFiles::tOutcome o = Feed(files, dgs, c.loss, 7 + nCase);
    ASSERT_TRUE(o.fFinished) << name;
    EXPECT_EQ(0u, o.dwError) << name;
    EXPECT_STREQ(name.c_str(), o.file.GetName());
    EXPECT_TRUE(data == m_dst.Read(name)) << name;
    FILETIME ftGot{};
    ASSERT_EQ(0u, platform::GetFileTimes(m_dst.Join(name), nullptr, nullptr, &ftGot));
    EXPECT_EQ(platform::FileTimeToU64(ft), platform::FileTimeToU64(ftGot)) << name;
    EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00" + std::to_string(100 + nCase))));
    EXPECT_EQ(0u, files.GetActiveFiles());
    // The carousel goes on: the rest of the file is redundant.
    CRecvFiles::tOutcome r = files.OnDatagram(dgs[0].header, dgs[0].payload.data(), 1024);
    EXPECT_TRUE(r.fRedundant);
    ++nCase;
  }
}

TEST_F(RecvFilesTest, OneDatagramPerDataBlockSufficesWithoutLoss) {
  const std::string path = m_src.Write("big.bin", RandomBytes(300000, 9));
  std::vector<tDatagram> dgs = MakeDatagrams(path, 5, 16, 32, 1024, 2000);
  CRecvFiles files(m_dst.Path());
  std::size_t nUsed = 0;
  CRecvFiles::tOutcome o = Feed(files, dgs, 0.0, 1, &nUsed);
  EXPECT_EQ(0u, o.dwError);
  EXPECT_EQ(0u, o.dwDecoded);
  // 300,048 bytes in 293 blocks: 19 groups of 16.
  EXPECT_EQ(19u * 16u, nUsed);
}

TEST_F(RecvFilesTest, InStepsNothingIsWrittenOrRestoredBeforeItIsAskedFor) {
  // 600 KiB in 38 groups of 16: more blocks than the staging buffer holds
  // are taken before anything is flushed.
  const std::string data = RandomBytes(600000, 12);
  const std::string path = m_src.Write("steps.bin", data);
  std::vector<tDatagram> dgs = MakeDatagrams(path, 21, 16, 32, 1024, 38 * 32);
  CRecvFiles files(m_dst.Path());
  std::mt19937 rng(5);
  std::bernoulli_distribution drop(0.15);
  bool fComplete = false;
  for (const tDatagram& d : dgs) {
    if (drop(rng)) continue;
    CRecvFiles::tOutcome o = files.TakeDatagram(d.header, d.payload.data(), 1024);
    ASSERT_EQ(0u, o.dwError);
    ASSERT_FALSE(o.fFinished);
    if (o.fComplete) {
      fComplete = true;
      break;
    }
  }
  ASSERT_TRUE(fComplete);
  // Whole but not finished: its place is kept against newcomers, and it is
  // not in the save folder yet.
  const std::string other = m_src.Write("o.bin", RandomBytes(60000, 13));
  for (DWORD id = 1; id <= 4; ++id) {
    std::vector<tDatagram> o = MakeDatagrams(other, id, 16, 32, 1024, 1);
    files.TakeDatagram(o[0].header, o[0].payload.data(), 1024);
  }
  EXPECT_FALSE(platform::FileExists(m_dst.Join("steps.bin")));
  DWORD dwFailed = 0;
  EXPECT_EQ(0u, files.FlushWrites(&dwFailed));
  CRecvFiles::tOutcome fin = files.FinishFile(21);
  ASSERT_TRUE(fin.fFinished);
  EXPECT_EQ(0u, fin.dwError);
  EXPECT_GT(fin.dwDecoded, 0u);
  EXPECT_TRUE(data == m_dst.Read("steps.bin"));
  EXPECT_FALSE(files.FinishFile(21).fFinished);  // once only
}

TEST_F(RecvFilesTest, ReplacesAnExistingFileOfTheSameName) {
  const std::string data = RandomBytes(5000, 4);
  const std::string path = m_src.Write("same.txt", data);
  m_dst.Write("same.txt", "old contents");
  CRecvFiles files(m_dst.Path());
  CRecvFiles::tOutcome o = Feed(files, MakeDatagrams(path, 9, 16, 20, 512, 400), 0.0, 1);
  EXPECT_EQ(0u, o.dwError);
  EXPECT_TRUE(data == m_dst.Read("same.txt"));
}

TEST_F(RecvFilesTest, ChecksumMismatchIsCorruptAndNothingIsRestored) {
  const std::string path = m_src.Write("bad.bin", RandomBytes(30000, 5));
  std::vector<tDatagram> dgs = MakeDatagrams(path, 11, 16, 32, 1024, 400);
  dgs[4].payload[100] ^= 0x01;  // one forged byte in a data block
  CRecvFiles files(m_dst.Path());
  CRecvFiles::tOutcome o = Feed(files, dgs, 0.0, 1);
  EXPECT_EQ(1392u, o.dwError);
  EXPECT_FALSE(platform::FileExists(m_dst.Join("bad.bin")));
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00011")));
  // The file may start again from the carousel.
  dgs = MakeDatagrams(path, 11, 16, 32, 1024, 400);
  o = Feed(files, dgs, 0.0, 1);
  EXPECT_EQ(0u, o.dwError);
  EXPECT_TRUE(platform::FileExists(m_dst.Join("bad.bin")));
}

TEST_F(RecvFilesTest, HostileDatagramsAreRefusedHarmlessly) {
  const std::string path = m_src.Write("ok.bin", RandomBytes(50000, 6));
  std::vector<tDatagram> dgs = MakeDatagrams(path, 21, 16, 32, 1024, 4000);
  CRecvFiles files(m_dst.Path());
  // Start the file, then send what does not fit it.
  ASSERT_TRUE(files.OnDatagram(dgs[0].header, dgs[0].payload.data(), 1024).fStarted);
  auto refused = [&](auto mutate) {
    tDatagram d = dgs[1];
    mutate(d.header);
    return files.OnDatagram(d.header, d.payload.data(), 1024).fRefused;
  };
  EXPECT_TRUE(refused([](tPacketHeader& h) { h.SetTotalLen(h.GetTotalLen() + 1024 * 16); }));
  EXPECT_TRUE(refused([](tPacketHeader& h) { h.SetGroupId(4); }));  // 4 groups: 0..3
  EXPECT_TRUE(refused([](tPacketHeader& h) { h.SetGroupId(0xFFFFFFFF); }));
  EXPECT_TRUE(refused([](tPacketHeader& h) { h.SetK(15); }));
  EXPECT_TRUE(refused([](tPacketHeader& h) { h.SetK(0); }));  // 256, not this file's
  // New files that cannot be: total length not whole groups or blocks, zero,
  // or a group id beyond the stream; none is started.
  auto newFileRefused = [&](DWORD dwTotal, DWORD dwK, DWORD dwGroup) {
    tDatagram d = dgs[1];
    d.header.SetFileId(999);
    d.header.SetTotalLen(dwTotal);
    d.header.SetK(dwK);
    d.header.SetGroupId(dwGroup);
    return files.OnDatagram(d.header, d.payload.data(), 1024).fRefused;
  };
  EXPECT_TRUE(newFileRefused(1024 * 15, 16, 0));
  EXPECT_TRUE(newFileRefused(0, 16, 0));
  EXPECT_TRUE(newFileRefused(1024 * 16 + 4, 1, 0));
  EXPECT_TRUE(newFileRefused(1024 * 16, 16, 1));
  EXPECT_EQ(1u, files.GetActiveFiles());
  // A block index of a data block sent twice is redundant, not stored twice.
  EXPECT_TRUE(files.OnDatagram(dgs[0].header, dgs[0].payload.data(), 1024).fRedundant);
  // The genuine file still arrives whole.
  CRecvFiles::tOutcome o = Feed(files, dgs, 0.0, 1);
  EXPECT_EQ(0u, o.dwError);
  std::string s;
  ASSERT_EQ(0u, platform::ReadWholeFile(path, &s));
  EXPECT_TRUE(s == m_dst.Read("ok.bin"));
}

TEST_F(RecvFilesTest, ATrailerNamingAPathIsNeverWrittenOutsideTheSaveFolder) {
  // A sender whose record names a path: craft the stream by hand.
  const std::string names[] = {"../escape.txt", "sub/inner.txt", "..", "C:\\win.txt"};
  DWORD dwId = 300;
  for (const std::string& name : names) {
    CPelagoFile record;
    const std::string data = "payload";
    std::vector<BYTE> img(32 + name.size());
    pelago::StoreLE32(img.data(), static_cast<DWORD>(data.size()));
    std::memcpy(img.data() + 32, name.data(), name.size());
    // Stream: data, padding, meta dump, meta length, checksum; one block.
    std::vector<BYTE> stream(256, 0);
    std::memcpy(stream.data(), data.data(), data.size());
    const std::size_t meta = 256 - 8 - img.size();
    std::memcpy(stream.data() + meta, img.data(), img.size());
    pelago::StoreLE32(stream.data() + 248, static_cast<DWORD>(img.size()));
    pelago::StoreLE32(stream.data() + 252, pelago::AddChecksum(0, stream.data(), 252));
    tPacketHeader h;
    h.Clear();
    h.SetSourceId(7);
    h.SetFileId(dwId++);
    h.SetTotalLen(256);
    h.SetGroupId(0);
    h.SetBlockIndex(0);
    h.SetK(1);
    CRecvFiles files(m_dst.Path());
    CRecvFiles::tOutcome o = files.OnDatagram(h, stream.data(), 256);
    ASSERT_TRUE(o.fFinished) << name;
    EXPECT_EQ(1392u, o.dwError) << name;
  }
  EXPECT_FALSE(platform::FileExists(platform::JoinPath(platform::DirName(m_dst.Path()),
                                                       "escape.txt")));
  // Nothing at all is left in the save folder.
  EXPECT_FALSE(platform::FileExists(m_dst.Join("sub")));
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00300")));
}

TEST_F(RecvFilesTest, AtMostFourFilesAtOnceTheLeastRecentGivesWay) {
  const std::string path = m_src.Write("m.bin", RandomBytes(60000, 8));
  std::vector<std::vector<tDatagram>> per;
  for (DWORD id = 1; id <= 6; ++id) per.push_back(MakeDatagrams(path, id, 16, 32, 1024, 2));
  CRecvFiles files(m_dst.Path());
  for (auto& dgs : per) {
    for (const tDatagram& d : dgs) files.OnDatagram(d.header, d.payload.data(), 1024);
  }
  EXPECT_EQ(4u, files.GetActiveFiles());
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00001")));
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00002")));
  EXPECT_TRUE(platform::FileExists(m_dst.Join("FEC00006")));
  // A newcomer of one datagram takes no place from them.
  std::vector<tDatagram> once = MakeDatagrams(path, 7, 16, 32, 1024, 1);
  EXPECT_TRUE(files.OnDatagram(once[0].header, once[0].payload.data(), 1024).fRefused);
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00007")));
}

TEST_F(RecvFilesTest, AFloodOfNewFileIdsEvictsNoFileThatMakesProgress) {
  const std::string data = RandomBytes(60000, 11);
  const std::string path = m_src.Write("real.bin", data);
  const std::vector<tDatagram> genuine = MakeDatagrams(path, 1, 16, 32, 1024, 400);
  const std::vector<tDatagram> forged =
      MakeDatagrams(m_src.Write("f.bin", RandomBytes(60000, 12)), 0, 16, 32, 1024, 20);
  // 20 datagrams of never-seen ids around each genuine one; the flood either
  // starts after the genuine file or has filled the table before it.
  for (bool fFloodFirst : {false, true}) {
    CRecvFiles files(m_dst.Path());
    DWORD dwForgedId = 1000;
    auto flood = [&] {
      for (const tDatagram& f : forged) {
        tPacketHeader h = f.header;
        h.SetFileId(dwForgedId++);
        files.OnDatagram(h, f.payload.data(), 1024);
      }
    };
    if (fFloodFirst) flood();
    bool fDone = false;
    for (std::size_t i = 0; i < genuine.size() && !fDone; ++i) {
      CRecvFiles::tOutcome o = files.OnDatagram(genuine[i].header, genuine[i].payload.data(), 1024);
      EXPECT_EQ(0u, o.dwError);
      fDone = o.fFinished;
      flood();
    }
    ASSERT_TRUE(fDone) << "flood first: " << fFloodFirst;
    EXPECT_TRUE(data == m_dst.Read("real.bin"));
    EXPECT_LE(files.GetActiveFiles(), 4u);
    platform::DeleteFile(m_dst.Join("real.bin"));
  }
}

TEST_F(RecvFilesTest, AnIdleFileGivesWayToANewcomer) {
  const std::string path = m_src.Write("idle.bin", RandomBytes(60000, 13));
  CRecvFiles files(m_dst.Path());
  for (DWORD id = 1; id <= 4; ++id) {
    for (const tDatagram& d : MakeDatagrams(path, id, 16, 32, 1024, 3))
      files.OnDatagram(d.header, d.payload.data(), 1024);
  }
  // File 2 goes on (its first blocks again and again); the others hear
  // nothing for longer than the idle span, file 1 the longest.
  std::vector<tDatagram> busy = MakeDatagrams(path, 2, 16, 32, 1024, 8);
  for (std::uint64_t n = 0; n <= CRecvFiles::kIdleDatagrams; ++n) {
    const tDatagram& d = busy[n % busy.size()];
    files.OnDatagram(d.header, d.payload.data(), 1024);
  }
  std::vector<tDatagram> once = MakeDatagrams(path, 9, 16, 32, 1024, 1);
  EXPECT_TRUE(files.OnDatagram(once[0].header, once[0].payload.data(), 1024).fStarted);
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00001")));
  EXPECT_TRUE(platform::FileExists(m_dst.Join("FEC00002")));
}

TEST_F(RecvFilesTest, FollowsANewPayloadLength) {
  // The packet thread learns the length again: files of the old length take
  // no block of the new one, and a file of the new length arrives whole.
  const std::string data = RandomBytes(20000, 14);
  const std::string path = m_src.Write("len.bin", data);
  CRecvFiles files(m_dst.Path());
  std::vector<tDatagram> old = MakeDatagrams(path, 5, 16, 32, 512, 3);
  for (const tDatagram& d : old) files.OnDatagram(d.header, d.payload.data(), 512);
  std::vector<tDatagram> now = MakeDatagrams(path, 6, 16, 32, 1024, 400);
  tDatagram wrong = now[0];
  wrong.header.SetFileId(5);
  EXPECT_TRUE(files.OnDatagram(wrong.header, wrong.payload.data(), 1024).fRefused);
  CRecvFiles::tOutcome o = Feed(files, now, 0.0, 1);
  EXPECT_EQ(0u, o.dwError);
  EXPECT_TRUE(data == m_dst.Read("len.bin"));
}

TEST_F(RecvFilesTest, GroupsOf256BlocksTravelAsKZero) {
  // 32,720 bytes with the 48-byte trailer of "k256.bin": 512 blocks of 64,
  // two groups of 256.
  const std::string data = RandomBytes(32720, 10);
  const std::string path = m_src.Write("k256.bin", data);
  std::vector<tDatagram> dgs = MakeDatagrams(path, 77, 256, 256, 64, 2 * 256 * 8);  // no parity: rounds repeat the data
  ASSERT_EQ(0, dgs[0].header.m_Bytes[21]);
  ASSERT_EQ(256u, dgs[0].header.GetK());
  CRecvFiles files(m_dst.Path());
  CRecvFiles::tOutcome o = Feed(files, dgs, 0.2, 3);
  EXPECT_EQ(0u, o.dwError);
  EXPECT_TRUE(data == m_dst.Read("k256.bin"));
}

TEST_F(RecvFilesTest, ADatagramAnnouncingTooManyBlocksStartsNothing) {
  // A tiny payload with a stream near 4 GiB: a billion blocks.
  tPacketHeader h;
  h.Clear();
  h.SetSourceId(7);
  h.SetFileId(42);
  h.SetTotalLen(0xFFFFFFFCu);
  h.SetK(1);
  BYTE payload[4] = {};
  CRecvFiles files(m_dst.Path());
  CRecvFiles::tOutcome o = files.OnDatagram(h, payload, sizeof payload);
  EXPECT_TRUE(o.fRefused);
  EXPECT_FALSE(o.fStarted);
  EXPECT_EQ(0u, files.GetActiveFiles());
  EXPECT_FALSE(platform::FileExists(m_dst.Join("FEC00042")));
}

TEST_F(RecvFilesTest, ATrailerLongerThanAPayloadSpansBlocksAndIsRestored) {
  // The 45-byte trailer of "span.bin" over blocks of 16 and of 32 bytes.
  for (DWORD dwPayload : {16u, 32u}) {
    const std::string data = RandomBytes(100, dwPayload);
    const std::string path = m_src.Write("span.bin", data);
    CRecvFiles files(m_dst.Path());
    CRecvFiles::tOutcome o =
        Feed(files, MakeDatagrams(path, dwPayload, 16, 20, dwPayload, 400), 0.1, 2);
    EXPECT_EQ(0u, o.dwError) << dwPayload;
    EXPECT_TRUE(data == m_dst.Read("span.bin")) << dwPayload;
  }
}

TEST_F(RecvFilesTest, AFileTimeBefore1970WithAFractionIsRestoredExactly) {
  const std::string path = m_src.Write("old.txt", RandomBytes(3000, 15));
  // 1950-01-01 and 0.1234567 s, in the 100 ns units of a FILETIME.
  const FILETIME ft = platform::FileTimeFromU64(
      platform::FileTimeToU64(platform::FileTimeFromUnix(-631152000, 0)) + 1234567);
  ASSERT_EQ(0u, platform::SetFileTimes(path, &ft, &ft));
  CRecvFiles files(m_dst.Path());
  CRecvFiles::tOutcome o = Feed(files, MakeDatagrams(path, 3, 16, 20, 1024, 100), 0.0, 1);
  ASSERT_EQ(0u, o.dwError);
  EXPECT_EQ(platform::FileTimeToU64(ft), platform::FileTimeToU64(o.file.GetLastWriteTime()));
  FILETIME got{};
  ASSERT_EQ(0u, platform::GetFileTimes(m_dst.Join("old.txt"), nullptr, nullptr, &got));
  EXPECT_EQ(platform::FileTimeToU64(ft), platform::FileTimeToU64(got));
}
