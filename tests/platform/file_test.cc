#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/File.h"

using namespace platform;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateTempDirectory("file_test", &m_dir), ERROR_SUCCESS); }
  void TearDown() override { DeleteTree(m_dir); }
  std::string m_dir;
};

TEST_F(FileTest, ReadWriteSizeAndTruncate) {
  std::string path = JoinPath(m_dir, "a.bin");
  File f;
  ASSERT_EQ(f.Open(path, OpenMode::kCreateAlways), ERROR_SUCCESS);
  ASSERT_EQ(f.Write("hello world", 11), ERROR_SUCCESS);
  ASSERT_EQ(f.WriteAt(20, "x", 1), ERROR_SUCCESS);
  std::uint64_t size = 0;
  f.Size(&size);
  EXPECT_EQ(size, 21u);
  ASSERT_EQ(f.SetLength(5), ERROR_SUCCESS);
  char buf[16];
  DWORD got = 0;
  ASSERT_EQ(f.ReadAt(0, buf, sizeof buf, &got), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "hello");
  f.Close();
  EXPECT_EQ(f.Open(path, OpenMode::kCreateNew), ERROR_FILE_EXISTS);
}

TEST_F(FileTest, MissingFilesGiveWin32Codes) {
  File f;
  EXPECT_EQ(f.Open(JoinPath(m_dir, "none"), OpenMode::kRead), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteFile(JoinPath(m_dir, "none")), ERROR_FILE_NOT_FOUND);
  DWORD attrs;
  EXPECT_EQ(GetFileAttributes(JoinPath(m_dir, "none"), &attrs), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileTest, TimesAndAttributesRoundTrip) {
  std::string path = JoinPath(m_dir, "t.txt");
  ASSERT_EQ(WriteWholeFile(path, "abc", 3), ERROR_SUCCESS);
  FILETIME when = FileTimeFromU64(125911584000000000ULL + 12345670ULL);  // 2000-01-01 + 1.234567 s
  ASSERT_EQ(SetFileTimes(path, &when, &when), ERROR_SUCCESS);
  FILETIME access{}, write{};
  ASSERT_EQ(GetFileTimes(path, nullptr, &access, &write), ERROR_SUCCESS);
  EXPECT_EQ(FileTimeToU64(write), FileTimeToU64(when));

  DWORD attrs = 0;
  ASSERT_EQ(SetFileAttributes(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  GetFileAttributes(path, &attrs);
  EXPECT_EQ(attrs, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_EQ(SetFileAttributes(path, FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  GetFileAttributes(path, &attrs);
  EXPECT_EQ(attrs, FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileTest, MoveReplacesOnlyWhenAsked) {
  std::string a = JoinPath(m_dir, "a"), b = JoinPath(m_dir, "b");
  WriteWholeFile(a, "1", 1);
  WriteWholeFile(b, "2", 1);
  EXPECT_EQ(MoveFile(a, b, false), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MoveFile(a, b, true), ERROR_SUCCESS);
  std::string contents;
  ReadWholeFile(b, &contents);
  EXPECT_EQ(contents, "1");
  EXPECT_FALSE(FileExists(a));
}

// Whole files of any size, also one whose size the file system does not
// tell (a /proc file reports 0).
TEST_F(FileTest, ReadWholeFileTakesWhatTheFileHolds) {
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 977);
  for (const std::string& data : {std::string(), std::string("x"), big}) {
    const std::string path = JoinPath(m_dir, "whole");
    ASSERT_EQ(WriteWholeFile(path, data.data(), data.size()), ERROR_SUCCESS);
    std::string contents = "left over";
    ASSERT_EQ(ReadWholeFile(path, &contents), ERROR_SUCCESS);
    EXPECT_TRUE(contents == data) << data.size();
  }
  std::string status;
  ASSERT_EQ(ReadWholeFile("/proc/self/status", &status), ERROR_SUCCESS);
  EXPECT_NE(status.find("VmRSS"), std::string::npos);
}

// Pieces land in their own buffers, across more pieces than one system call
// takes, from a place inside the file, and stop short at its end.
TEST_F(FileTest, ScatteredReadFillsEachPieceInTurn) {
  constexpr DWORD kEach = 3, kPieces = 1500;
  std::string data(kEach * kPieces + 7, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 + i / 251);
  const std::string path = JoinPath(m_dir, "scatter");
  ASSERT_EQ(WriteWholeFile(path, data.data(), data.size()), ERROR_SUCCESS);
  File f;
  ASSERT_EQ(f.Open(path, OpenMode::kRead), ERROR_SUCCESS);
  // Every other piece of a buffer, in reverse, so that order and place show.
  std::vector<BYTE> out(2 * kEach * kPieces, 0xEE);
  std::vector<BYTE*> dest(kPieces);
  for (DWORD i = 0; i < kPieces; ++i) dest[i] = &out[(kPieces - 1 - i) * 2 * kEach];
  DWORD got = 0;
  ASSERT_EQ(f.ReadScatterAt(5, dest.data(), kPieces, kEach, &got), ERROR_SUCCESS);
  EXPECT_EQ(got, kEach * kPieces);
  bool fAllRight = true;
  for (DWORD i = 0; i < kPieces && fAllRight; ++i) {
    fAllRight = std::memcmp(dest[i], data.data() + 5 + i * kEach, kEach) == 0 &&
                dest[i][kEach] == 0xEE;
  }
  EXPECT_TRUE(fAllRight);
  // Ten bytes are left from here: three whole pieces and one byte.
  std::vector<BYTE> tail(5 * kEach, 0xEE);
  BYTE* tailDest[5] = {&tail[0], &tail[3], &tail[6], &tail[9], &tail[12]};
  ASSERT_EQ(f.ReadScatterAt(data.size() - 10, tailDest, 5, kEach, &got), ERROR_SUCCESS);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(std::memcmp(tail.data(), data.data() + data.size() - 10, 10), 0);
  EXPECT_EQ(tail[10], 0xEE);
}

TEST_F(FileTest, TempNamesAndPaths) {
  std::string p1, p2;
  ASSERT_EQ(CreateTempFile(m_dir, "pre", &p1), ERROR_SUCCESS);
  ASSERT_EQ(CreateTempFile(m_dir, "pre", &p2), ERROR_SUCCESS);
  EXPECT_NE(p1, p2);
  EXPECT_EQ(BaseName(p1).rfind("pre", 0), 0u);
  EXPECT_EQ(GetTempPath().back(), '/');
  EXPECT_EQ(BaseName("a/b/c.txt"), "c.txt");
  EXPECT_EQ(DirName("a/b/c.txt"), "a/b");
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  std::uint64_t freeBytes = 0;
  EXPECT_EQ(GetDiskFreeSpace(m_dir, &freeBytes), ERROR_SUCCESS);
  EXPECT_GT(freeBytes, 0u);
}

TEST(FileTimeTest, UnixEpochAndBack) {
  FILETIME ft = FileTimeFromUnix(0, 0);
  EXPECT_EQ(FileTimeToU64(ft), 116444736000000000ULL);
  std::int64_t s, ns;
  UnixFromFileTime(FileTimeFromUnix(1700000000, 123456700), &s, &ns);
  EXPECT_EQ(s, 1700000000);
  EXPECT_EQ(ns, 123456700);
}
