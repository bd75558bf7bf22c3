#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "orvalo/Cabinet.h"
#include "orvalo/Defragger.h"
#include "orvalo/SlideInserter.h"
#include "orvalo/SlidePacket.h"
#include "orvalo/TempFiles.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"

namespace {

namespace fs = std::filesystem;

// Gives each test its own temporary folder and records every insertion.
class TempFolderTest : public ::testing::Test {
 protected:
  struct Insert {
    std::string path;
    DWORD dwSlide;
    std::string contents;
  };

  void SetUp() override {
    orvalo::SetSlideInserter([this](const char* szFile, DWORD dwSlide) -> DWORD {
      std::string s;
      platform::ReadWholeFile(szFile, &s);
      m_inserts.push_back({szFile, dwSlide, s});
      return 0;
    });
  }
  void TearDown() override { orvalo::SetSlideInserter(nullptr); }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The presenter's cabinet of slide n holding `contents`; the slide file
  // itself is removed again, so only the cabinet's bytes are returned.
  std::string SlideCabinet(DWORD dwSlide, const std::string& contents) {
    char szFile[MAX_PATH + 1], szCab[MAX_PATH + 1];
    EXPECT_TRUE(SlideFileName(dwSlide, szFile));
    EXPECT_TRUE(SlideCabName(dwSlide, szCab));
    EXPECT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(szFile, contents.data(), contents.size()));
    EXPECT_TRUE(orvalo::Compress(szFile));
    std::string cab;
    EXPECT_EQ(ERROR_SUCCESS, platform::ReadWholeFile(szCab, &cab));
    platform::DeleteFile(szFile);
    platform::DeleteFile(szCab);
    return cab;
  }

  static std::vector<BYTE> Packet(DWORD dwSlide, BOOL fFirst, BOOL fMore, const std::string& data,
                                  DWORD dwType = orvalo::kPacketTypeFileData) {
    std::vector<BYTE> p(sizeof(tSlidePacketHeader) + data.size());
    tSlidePacketHeader* h = tSlidePacketHeader::Of(p.data());
    h->Header.Clear();
    h->Header.SetTag(orvalo::kTagFileData);
    h->Header.SetType(dwType);
    h->Header.SetSlide(1);
    h->Header.SetFirst(fFirst);
    h->Header.SetMore(fMore);
    h->SetFileSlide(dwSlide);
    std::copy(data.begin(), data.end(), p.begin() + sizeof(tSlidePacketHeader));
    return p;
  }
  static BOOL Add(CFileDefragger* d, const std::vector<BYTE>& p) {
    return d->AddPacket(p.data(), static_cast<DWORD>(p.size()));
  }

  ScopedTmpDir m_tmp;
  const std::string m_dir = m_tmp.path();
  std::vector<Insert> m_inserts;
};

TEST_F(TempFolderTest, FixedNamesLieInTheTemporaryFolder) {
  char sz[MAX_PATH + 1];
  ASSERT_TRUE(SlideFileName(12, sz));
  EXPECT_EQ(m_dir + "_OV_sld12.ppt", sz);
  ASSERT_TRUE(SlideCabName(12, sz));
  EXPECT_EQ(m_dir + "_OV_sld12.ppt.cab", sz);
  ASSERT_TRUE(MasterFileName(sz));
  EXPECT_EQ(m_dir + "_OV_Mast.ppt", sz);
  ASSERT_TRUE(MasterCabName(sz));
  EXPECT_EQ(m_dir + "_OV_Mast.ppt.cab", sz);

  setenv("TMPDIR", ("/" + std::string(300, 'x')).c_str(), 1);
  EXPECT_FALSE(SlideFileName(12, sz));
  EXPECT_STREQ("", sz);
}

TEST_F(TempFolderTest, TempFileIsCreatedReplacedAndDeleted) {
  std::string first;
  {
    CTempFile f;
    ASSERT_TRUE(f.Create());
    first = f.GetPath();
    EXPECT_EQ(m_dir, platform::DirName(first) + "/");
    EXPECT_EQ(0u, platform::BaseName(first).find("ov"));
    ASSERT_NE(nullptr, f.GetHandle());
    ASSERT_TRUE(f.Create());  // the first file goes
    EXPECT_FALSE(platform::FileExists(first));
    f.Close();
    EXPECT_EQ(nullptr, f.GetHandle());
    EXPECT_TRUE(platform::FileExists(f.GetPath()));
    first = f.GetPath();
  }
  EXPECT_FALSE(platform::FileExists(first));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(TempFolderTest, OnePacketSlideIsInsertedAndCleanedUp) {
  const std::string slide(5000, 's');
  const auto packet = Packet(12, TRUE, FALSE, SlideCabinet(12, slide));
  {
    CFileDefragger d;
    ASSERT_TRUE(Add(&d, packet));
    EXPECT_TRUE(d.IsComplete());
    ASSERT_TRUE(d.Complete());
  }
  ASSERT_EQ(1u, m_inserts.size());
  EXPECT_EQ(m_dir + "_OV_sld12.ppt", m_inserts[0].path);
  EXPECT_EQ(12u, m_inserts[0].dwSlide);
  EXPECT_EQ(slide, m_inserts[0].contents);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(TempFolderTest, SlicesAreAppendedInOrder) {
  std::string slide;
  for (int i = 0; i < 20000; ++i) slide.push_back(char(i * 7919 >> 3));
  const std::string cab = SlideCabinet(3, slide);
  const std::size_t third = cab.size() / 3;
  CFileDefragger d;
  ASSERT_TRUE(Add(&d, Packet(3, TRUE, TRUE, cab.substr(0, third))));
  ASSERT_TRUE(Add(&d, Packet(3, FALSE, TRUE, cab.substr(third, third))));
  EXPECT_FALSE(d.Complete());  // not before the last slice
  EXPECT_TRUE(m_inserts.empty());
  ASSERT_TRUE(Add(&d, Packet(3, FALSE, FALSE, cab.substr(2 * third))));
  EXPECT_EQ(3u, d.GetPacketCount());
  ASSERT_TRUE(d.Complete());
  ASSERT_EQ(1u, m_inserts.size());
  EXPECT_EQ(slide, m_inserts[0].contents);
}

TEST_F(TempFolderTest, HostilePacketsAreRefusedWithoutEffect) {
  const auto first = Packet(5, TRUE, TRUE, "abc");
  struct Case {
    const char* szWhat;
    bool fAfterFirst;
    std::vector<BYTE> packet;
  } cases[] = {
      {"header only (40 bytes)", false, Packet(5, TRUE, FALSE, "")},
      {"state type", false, Packet(5, TRUE, FALSE, "abc", orvalo::kPacketTypeState)},
      {"slide 0", false, Packet(0, TRUE, FALSE, "abc")},
      {"first without fFirst", false, Packet(5, FALSE, FALSE, "abc")},
      {"other slide mid-item", true, Packet(6, FALSE, FALSE, "abc")},
      {"second fFirst mid-item", true, Packet(5, TRUE, FALSE, "abc")},
  };
  for (const auto& c : cases) {
    CFileDefragger d;
    if (c.fAfterFirst) {
      ASSERT_TRUE(Add(&d, first));
    }
    EXPECT_FALSE(Add(&d, c.packet)) << c.szWhat;
    EXPECT_FALSE(d.IsComplete()) << c.szWhat;
    EXPECT_EQ(c.fAfterFirst ? 1u : 0u, d.GetPacketCount()) << c.szWhat;
    if (!c.fAfterFirst) {
      EXPECT_TRUE(Entries().empty()) << c.szWhat;
    }
  }
  CFileDefragger done;
  ASSERT_TRUE(Add(&done, Packet(5, TRUE, FALSE, "abc")));
  EXPECT_FALSE(Add(&done, Packet(5, FALSE, FALSE, "def")));  // after the last slice
  EXPECT_EQ(1u, done.GetPacketCount());
}

TEST_F(TempFolderTest, AnEndlessItemIsDroppedAtItsMaximumSize) {
  CFileDefragger d(10);
  ASSERT_TRUE(Add(&d, Packet(4, TRUE, TRUE, "12345")));
  ASSERT_TRUE(Add(&d, Packet(4, FALSE, TRUE, "67890")));
  EXPECT_FALSE(Add(&d, Packet(4, FALSE, TRUE, "x")));  // the 11th byte
  EXPECT_TRUE(Entries().empty());                      // its file is gone
  EXPECT_FALSE(Add(&d, Packet(4, FALSE, FALSE, "")));  // and the item stays refused
  EXPECT_FALSE(Add(&d, Packet(4, FALSE, FALSE, "y")));
  EXPECT_FALSE(d.IsComplete());
  EXPECT_TRUE(m_inserts.empty());
}

TEST_F(TempFolderTest, BadCabinetsInsertNothingAndLeaveNothing) {
  // A cabinet holding a file of another name than the slide's must not land
  // in the shared temporary folder.
  char szMaster[MAX_PATH + 1];
  ASSERT_TRUE(MasterFileName(szMaster));
  ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(szMaster, "master", 6));
  ASSERT_TRUE(orvalo::Compress(szMaster));
  std::string masterCab;
  ASSERT_EQ(ERROR_SUCCESS, platform::ReadWholeFile(std::string(szMaster) + ".cab", &masterCab));
  platform::DeleteFile(std::string(szMaster) + ".cab");
  ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(szMaster, "mine", 4));

  for (const std::string& cab : {masterCab, std::string(500, 'g')}) {
    {
      CFileDefragger d;
      ASSERT_TRUE(Add(&d, Packet(12, TRUE, FALSE, cab)));
      EXPECT_TRUE(d.Complete());
    }
    EXPECT_TRUE(m_inserts.empty());
    EXPECT_EQ((std::vector<std::string>{"_OV_Mast.ppt"}), Entries());
  }
  std::string s;
  platform::ReadWholeFile(szMaster, &s);
  EXPECT_EQ("mine", s);
}

}  // namespace
