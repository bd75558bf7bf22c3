#include "orvalo/Cabinet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/File.h"

// After the project's headers: GLib defines TRUE and FALSE as macros.
#include <libgcab.h>

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kWriteTime = 1683368430;  // 2023-05-06, even seconds

class CabinetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, platform::CreateTempDirectory("cabtest", &m_dir));
    m_dir = platform::JoinPath(m_dir, "");
    m_dest = m_dir + "dest/";
    ASSERT_EQ(ERROR_SUCCESS, platform::CreateDirectory(m_dest));
  }
  void TearDown() override {
    // Read-only files inside are still removed: the folder is writable.
    platform::DeleteTree(m_dir);
  }

  // A file with compressible and incompressible parts and a fixed write time.
  std::string MakeFile(const std::string& name, std::size_t cb) {
    std::string data;
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < cb; ++i) {
      x = x * 1103515245 + 12345;
      data.push_back(i % 4096 < 2048 ? char('a' + i % 7) : char(x >> 24));
    }
    const std::string path = m_dir + name;
    EXPECT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(path, data.data(), data.size()));
    SetWriteTime(path);
    return path;
  }
  static void SetWriteTime(const std::string& path) {
    const FILETIME ft = platform::FileTimeFromUnix(kWriteTime, 0);
    ASSERT_EQ(ERROR_SUCCESS, platform::SetFileTimes(path, nullptr, &ft));
  }
  static std::int64_t WriteTime(const std::string& path) {
    FILETIME ft{};
    EXPECT_EQ(ERROR_SUCCESS, platform::GetFileTimes(path, nullptr, nullptr, &ft));
    std::int64_t sec = 0, nsec = 0;
    platform::UnixFromFileTime(ft, &sec, &nsec);
    return sec;
  }
  static std::string Contents(const std::string& path) {
    std::string s;
    EXPECT_EQ(ERROR_SUCCESS, platform::ReadWholeFile(path, &s)) << path;
    return s;
  }
  static std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static int Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

  std::string m_dir;   // with trailing '/'
  std::string m_dest;  // m_dir + "dest/"
};

TEST_F(CabinetTest, RoundTripKeepsBytesNameTimeAndReadOnly) {
  const std::string src = MakeFile("_OV_sld3.ppt", 100000);
  ASSERT_EQ(ERROR_SUCCESS, platform::SetFileAttributes(src, FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(orvalo::Compress(src.c_str()));
  const std::string cab = src + ".cab";
  ASSERT_TRUE(platform::FileExists(cab));
  EXPECT_LT(Contents(cab).size(), 100000u);  // MSZIP did compress

  // A longer file of that name is replaced, not overwritten in part.
  const std::string longer(300000, 'L');
  ASSERT_EQ(ERROR_SUCCESS,
            platform::WriteWholeFile(m_dest + "_OV_sld3.ppt", longer.data(), longer.size()));
  char szOut[MAX_PATH + 1] = {};
  ASSERT_TRUE(orvalo::Extract(cab.c_str(), m_dest.c_str(), szOut));
  EXPECT_EQ(m_dest + "_OV_sld3.ppt", szOut);
  EXPECT_EQ(Contents(src), Contents(szOut));
  EXPECT_EQ(kWriteTime, WriteTime(szOut));
  DWORD dwAttrs = 0;
  ASSERT_EQ(ERROR_SUCCESS, platform::GetFileAttributes(szOut, &dwAttrs));
  EXPECT_TRUE(dwAttrs & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ((std::vector<std::string>{"_OV_sld3.ppt"}), Entries(m_dest));

  // An independent reader sees the bare name and read-only + archive.
  ASSERT_EQ(0, std::system(("gcab -l '" + cab + "' > '" + m_dir + "list.txt'").c_str()));
  const std::string list = Contents(m_dir + "list.txt");
  EXPECT_EQ(0u, list.find("_OV_sld3.ppt 100000 ")) << list;
  EXPECT_NE(std::string::npos, list.find(" 0x21")) << list;
}

TEST_F(CabinetTest, NullDestinationMeansTheCabinetsFolder) {
  const std::string src = MakeFile("m.ppt", 10);
  ASSERT_TRUE(orvalo::Compress(src.c_str()));
  platform::DeleteFile(src);
  char szOut[MAX_PATH + 1] = {};
  ASSERT_TRUE(orvalo::Extract((src + ".cab").c_str(), nullptr, szOut));
  EXPECT_EQ(src, szOut);
  EXPECT_EQ(10u, Contents(src).size());
}

TEST_F(CabinetTest, EmptyFileRoundTrips) {
  const std::string src = MakeFile("empty.ppt", 0);
  ASSERT_TRUE(orvalo::Compress(src.c_str()));
  char szOut[MAX_PATH + 1] = {};
  ASSERT_TRUE(orvalo::Extract((src + ".cab").c_str(), m_dest.c_str(), szOut));
  EXPECT_EQ("", Contents(szOut));
}

TEST_F(CabinetTest, CabextractReadsWhatCompressWrote) {
  const std::string src = MakeFile("_OV_Mast.ppt", 200000);
  ASSERT_TRUE(orvalo::Compress(src.c_str()));
  ASSERT_EQ(0, Run("cabextract -q -d '" + m_dest + "' '" + src + ".cab'"));
  EXPECT_EQ((std::vector<std::string>{"_OV_Mast.ppt"}), Entries(m_dest));
  EXPECT_EQ(Contents(src), Contents(m_dest + "_OV_Mast.ppt"));
  EXPECT_EQ(kWriteTime, WriteTime(m_dest + "_OV_Mast.ppt"));
  EXPECT_EQ(0, Run("cabextract -t '" + src + ".cab'"));  // checksums hold
}

TEST_F(CabinetTest, ExtractReadsWhatGcabWrote) {
  const std::string src = MakeFile("notes.ppt", 70000);
  ASSERT_EQ(ERROR_SUCCESS, platform::SetFileAttributes(src, FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(0, Run("cd '" + m_dir + "' && gcab -c -z tool.cab notes.ppt"));
  char szOut[MAX_PATH + 1] = {};
  ASSERT_TRUE(orvalo::Extract((m_dir + "tool.cab").c_str(), m_dest.c_str(), szOut));
  EXPECT_EQ(m_dest + "notes.ppt", szOut);
  EXPECT_EQ(Contents(src), Contents(szOut));
  EXPECT_EQ(kWriteTime, WriteTime(szOut));
  DWORD dwAttrs = 0;
  ASSERT_EQ(ERROR_SUCCESS, platform::GetFileAttributes(szOut, &dwAttrs));
  EXPECT_FALSE(dwAttrs & FILE_ATTRIBUTE_READONLY);  // the tool stores only archive
}

// Writes a cabinet with the given names through the library directly, so that
// hostile layouts can be made.
void WriteRawCabinet(const std::string& path, const std::vector<std::string>& names) {
  GCabCabinet* cab = gcab_cabinet_new();
  GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
  for (const auto& name : names) {
    GBytes* bytes = g_bytes_new("evil", 4);
    GCabFile* file = gcab_file_new_with_bytes(name.c_str(), bytes);
    ASSERT_TRUE(gcab_folder_add_file(folder, file, FALSE, nullptr, nullptr));
    g_object_unref(file);
    g_bytes_unref(bytes);
  }
  ASSERT_TRUE(gcab_cabinet_add_folder(cab, folder, nullptr));
  GFile* out = g_file_new_for_path(path.c_str());
  GFileOutputStream* stream =
      g_file_replace(out, nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, nullptr);
  ASSERT_NE(nullptr, stream);
  ASSERT_TRUE(gcab_cabinet_write_simple(cab, G_OUTPUT_STREAM(stream), nullptr, nullptr, nullptr,
                                        nullptr));
  g_output_stream_close(G_OUTPUT_STREAM(stream), nullptr, nullptr);
  g_object_unref(stream);
  g_object_unref(out);
  g_object_unref(folder);
  g_object_unref(cab);
}

TEST_F(CabinetTest, HostileCabinetsAreRefusedAndLeaveNothing) {
  const std::string good = MakeFile("good.ppt", 50000);
  ASSERT_TRUE(orvalo::Compress(good.c_str()));
  const std::string goodCab = Contents(good + ".cab");
  ASSERT_EQ(0, goodCab[30] | goodCab[31]);  // no reserved areas, no cabinet set
  auto le32 = [](std::string* p, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*p)[at + i] = static_cast<char>(v >> (8 * i));
  };
  auto get32 = [](const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + i]);
    return v;
  };
  // The header declares two folders, the second a copy of the first.
  std::string twoFolders = goodCab.substr(0, 44) + goodCab.substr(36, 8) + goodCab.substr(44);
  twoFolders[26] = 2;
  le32(&twoFolders, 8, get32(twoFolders, 8) + 8);    // cabinet length
  le32(&twoFolders, 16, get32(twoFolders, 16) + 8);  // first file entry
  for (std::size_t at : {36, 44}) le32(&twoFolders, at, get32(twoFolders, at) + 8);
  // The file declared at 100 of its 50,000 bytes.
  std::string declaredShort = goodCab;
  le32(&declaredShort, get32(goodCab, 16), 100);

  struct Case {
    const char* szWhat;
    std::vector<std::string> names;  // a raw cabinet of these, or
    std::string bytes;               // these bytes
  } cases[] = {
      {"two files", {"a.ppt", "b.ppt"}, ""},
      {"parent path", {"..\\evil.ppt"}, ""},
      {"unix parent path", {"../evil.ppt"}, ""},
      {"absolute path", {"/tmp/evil.ppt"}, ""},
      {"sub folder", {"sub\\evil.ppt"}, ""},
      {"dot dot", {".."}, ""},
      {"empty name", {""}, ""},
      {"no file", {}, ""},
      {"truncated", {}, goodCab.substr(0, goodCab.size() / 2)},
      {"header only", {}, goodCab.substr(0, 40)},
      {"corrupt data", {}, goodCab.substr(0, 200) + std::string(goodCab.size() - 200, 'Z')},
      {"not a cabinet", {}, std::string(300, 'x')},
      {"two folders", {}, twoFolders},
      {"declared size below its data", {}, declaredShort},
  };
  const std::string cab = m_dir + "in.cab";
  for (const auto& c : cases) {
    if (!c.bytes.empty()) {
      ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(cab, c.bytes.data(), c.bytes.size()));
    } else if (c.names.empty()) {
      ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(cab, "", 0));
    } else {
      WriteRawCabinet(cab, c.names);
    }
    char szOut[MAX_PATH + 1] = "untouched";
    EXPECT_FALSE(orvalo::Extract(cab.c_str(), m_dest.c_str(), szOut)) << c.szWhat;
    EXPECT_STREQ("untouched", szOut) << c.szWhat;
    EXPECT_TRUE(Entries(m_dest).empty()) << c.szWhat;
    EXPECT_EQ((std::vector<std::string>{"dest", "good.ppt", "good.ppt.cab", "in.cab"}),
              Entries(m_dir))
        << c.szWhat;
  }
  EXPECT_FALSE(fs::exists(m_dir + "../evil.ppt"));
  char szOut[MAX_PATH + 1] = {};
  EXPECT_FALSE(orvalo::Extract((m_dir + "missing.cab").c_str(), m_dest.c_str(), szOut));
}

TEST_F(CabinetTest, ABackslashInTheNameIsRefusedByName) {
  std::string trace;
  platform::DebugOutputHook prev =
      platform::SetDebugOutputHook([&](std::string_view s) { trace.append(s); });
  const std::string cab = m_dir + "in.cab";
  WriteRawCabinet(cab, {"sub\\evil.ppt"});
  char szOut[MAX_PATH + 1] = "untouched";
  EXPECT_FALSE(orvalo::Extract(cab.c_str(), m_dest.c_str(), szOut));
  platform::SetDebugOutputHook(prev);
  EXPECT_NE(trace.find("is not a bare file name"), std::string::npos) << trace;
  EXPECT_TRUE(Entries(m_dest).empty());
}

TEST_F(CabinetTest, CompressOfAMissingFileFailsAndWritesNothing) {
  EXPECT_FALSE(orvalo::Compress((m_dir + "nope.ppt").c_str()));
  EXPECT_FALSE(platform::FileExists(m_dir + "nope.ppt.cab"));
}

TEST(CabinetErrorNames, CoverTheirCodes) {
  EXPECT_STREQ("No error", orvalo::CompressErrorName(0));
  EXPECT_STREQ("Failure compressing data", orvalo::CompressErrorName(8));
  EXPECT_STREQ("Unknown error", orvalo::CompressErrorName(9));
  EXPECT_STREQ("Unknown error", orvalo::CompressErrorName(-1));
  EXPECT_STREQ("Corrupt cabinet", orvalo::ExtractErrorName(4));
  EXPECT_STREQ("User aborted", orvalo::ExtractErrorName(11));
  EXPECT_STREQ("Unknown error", orvalo::ExtractErrorName(12));
}

}  // namespace
