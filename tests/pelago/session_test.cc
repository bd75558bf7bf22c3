// The session descriptor and the file record.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "Pelago/PelagoFile.h"
#include "Pelago/PelagoSession.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

namespace {

struct tSendForm {
  int K, N;
  unsigned long dwPayloadLen, dwRate;
  const char* szAddr;
  int nExpected;
};

class QuietAsserts : public ::testing::Test {
 protected:
  void SetUp() override {
    m_prev = platform::SetDebugOutputHook([](std::string_view) {});
  }
  void TearDown() override { platform::SetDebugOutputHook(m_prev); }
  platform::DebugOutputHook m_prev;
};

using SessionTest = QuietAsserts;

}  // namespace

TEST_F(SessionTest, SendFormChecksEachLimitAndLeavesTheSessionOnFailure) {
  const tSendForm cases[] = {
      {16, 255, 1024, 1000, "239.1.1.1", 0},  {256, 256, 1024, 1000, "239.1.1.1", 0},
      {1, 1, 4, 1, "239.1.1.1", 0},           {0, 16, 1024, 1000, "239.1.1.1", 87},
      {-1, 16, 1024, 1000, "239.1.1.1", 87},  {257, 257, 1024, 1000, "239.1.1.1", 87},
      {17, 16, 1024, 1000, "239.1.1.1", 87},  {16, 257, 1024, 1000, "239.1.1.1", 87},
      {16, 32, 0, 1000, "239.1.1.1", 87},     {16, 32, 1024, 0, "239.1.1.1", 87},
      {16, 32, 1024, 1000, "239.100.100.1000", 87},
  };
  for (const tSendForm& c : cases) {
    CPelagoSession s;
    ASSERT_EQ(0, s.SessionInit("224.9.9.9", 7, 3, 99, 5, 2, 3, 8));
    EXPECT_EQ(c.nExpected, s.SessionInit(c.szAddr, 1234, 8, c.dwRate, 77, c.K, c.N,
                                         c.dwPayloadLen))
        << c.K << " " << c.N << " " << c.dwPayloadLen << " " << c.szAddr;
    if (c.nExpected == 0) {
      EXPECT_STREQ(c.szAddr, s.GetMaddr());
      EXPECT_EQ(1234, s.GetPort());
      EXPECT_EQ(8, s.GetTTL());
      EXPECT_EQ(77u, s.GetSourceId());
      EXPECT_EQ(static_cast<unsigned long>(c.K), s.GetK());
      EXPECT_EQ(static_cast<unsigned long>(c.N), s.GetN());
      EXPECT_EQ(c.dwPayloadLen, s.GetPayloadLen());
      EXPECT_EQ(c.dwRate, s.GetDataRate());
    } else {
      EXPECT_STREQ("224.9.9.9", s.GetMaddr());
      EXPECT_EQ(7, s.GetPort());
      EXPECT_EQ(2u, s.GetK());
      EXPECT_EQ(8u, s.GetPayloadLen());
    }
  }
}

TEST_F(SessionTest, ReceiveFormClearsTheSendParameters) {
  CPelagoSession s;
  ASSERT_EQ(0, s.SessionInit("239.1.1.1", 1, 2, 1000, 5, 16, 32, 1024));
  EXPECT_EQ(0, s.SessionInit("239.2.2.2", 4000, 193894));
  EXPECT_STREQ("239.2.2.2", s.GetMaddr());
  EXPECT_EQ(4000, s.GetPort());
  EXPECT_EQ(193894u, s.GetSourceId());
  EXPECT_EQ(0, s.GetTTL());
  EXPECT_EQ(0u, s.GetK());
  EXPECT_EQ(0u, s.GetN());
  EXPECT_EQ(0u, s.GetPayloadLen());
  EXPECT_EQ(0u, s.GetDataRate());
  CPelagoSession copy;
  copy = s;
  EXPECT_STREQ("239.2.2.2", copy.GetMaddr());
  EXPECT_EQ(0, copy.EndOfSession());
}

TEST(PelagoFileTest, MetaDumpRoundTripsWithoutTheNul) {
  std::string dir;
  ASSERT_EQ(0u, platform::CreateTempDirectory("pelago_meta", &dir));
  const std::string path = platform::JoinPath(dir, "a.txt");
  ASSERT_EQ(0u, platform::WriteWholeFile(path, "hello world", 11));
  FILETIME ftWrite = platform::FileTimeFromUnix(1500000000, 0);
  ASSERT_EQ(0u, platform::SetFileTimes(path, &ftWrite, &ftWrite));

  CPelagoFile f;
  ASSERT_EQ(0u, f.Set(path.c_str()));
  EXPECT_EQ(11u, f.GetSize());
  f.StripPath();
  EXPECT_STREQ("a.txt", f.GetName());
  ASSERT_EQ(37u, f.GetLenDumpMeta());
  unsigned char dump[37];
  f.DumpMeta(dump, 0, 37);
  EXPECT_EQ(11, dump[0]);  // little-endian size first
  EXPECT_EQ(0, std::memcmp(dump + 32, "a.txt", 5));

  CPelagoFile g;
  g.RestoreMeta(dump, 0, 37);
  EXPECT_STREQ("a.txt", g.GetName());
  EXPECT_EQ(11u, g.GetSize());
  EXPECT_EQ(platform::FileTimeToU64(ftWrite), platform::FileTimeToU64(g.GetLastWriteTime()));
  EXPECT_EQ(f.GetAttributes(), g.GetAttributes());
  unsigned char part[3];
  g.DumpMeta(part, 33, 3);
  EXPECT_EQ(0, std::memcmp(part, ".tx", 3));
  platform::DeleteTree(dir);
}

TEST(PelagoFileTest, StripPathKeepsNameAndExtension) {
  const char* cases[][2] = {{"C:\\dir\\sub\\file.cab", "file.cab"},
                            {"/tmp/dir/file.cab", "file.cab"},
                            {"file.cab", "file.cab"},
                            {"D:x.y", "x.y"}};
  for (auto& c : cases) {
    CPelagoFile f;
    unsigned char img[64] = {};
    std::size_t n = std::strlen(c[0]);
    std::memcpy(img + 32, c[0], n);
    f.RestoreMeta(img, 0, 32 + n);
    f.StripPath();
    EXPECT_STREQ(c[1], f.GetName()) << c[0];
  }
}

TEST(PelagoFileTest, SetOnAMissingFileGivesFileNotFound) {
  CPelagoFile f;
  EXPECT_EQ(2u, f.Set("/nonexistent/pelago/missing.bin"));
  EXPECT_STREQ("/nonexistent/pelago/missing.bin", f.GetName());
}
