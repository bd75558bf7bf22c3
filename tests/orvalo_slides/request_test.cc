#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvalo/PtsPacket.h"
#include "orvalo/Request.h"
#include "orvalo/SlidePacket.h"
#include "orvalo/TempFiles.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"

namespace {

std::vector<tPtsPoint> PointsOf(const std::vector<BYTE>& buf, DWORD dwLen) {
  CPtsPacket view(static_cast<const void*>(buf.data()), dwLen);
  std::vector<tPtsPoint> pts(view.GetNumPoints());
  for (DWORD i = 0; i < pts.size(); ++i) view.GetPoint(i, &pts[i]);
  return pts;
}

TEST(PtsRequest, LongStrokeGoesOutInJoinedPackets) {
  CPtsRequest req;
  req.SetColor(0x0000FF);
  req.SetSlide(4);
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(req.AddPoint(float(i), float(2 * i)));
  std::vector<BYTE> buf(1000);
  const struct { DWORD dwPoints; float fFirstX; BOOL fMore; } expected[] = {
      {119, 0, TRUE}, {119, 118, TRUE}, {64, 236, FALSE}};
  for (const auto& e : expected) {
    DWORD dwLen = 0;
    BOOL fMore = -1;
    ASSERT_TRUE(req.GetNextPacket(buf.data(), 1000, &dwLen, &fMore));
    EXPECT_EQ(44 + 8 * e.dwPoints, dwLen);
    EXPECT_EQ(e.fMore, fMore);
    const auto pts = PointsOf(buf, dwLen);
    ASSERT_EQ(e.dwPoints, pts.size());
    EXPECT_EQ(e.fFirstX, pts.front().x);
    EXPECT_EQ(2 * e.fFirstX, pts.front().y);
    const tPacketHeader* h = tPacketHeader::Of(buf.data());
    EXPECT_EQ(orvalo::kPacketTypePoints, h->GetType());
    EXPECT_TRUE(h->IsFirst());
    EXPECT_FALSE(h->IsMore());
    EXPECT_EQ(0x0000FFu, CPtsPacket(static_cast<const void*>(buf.data()), dwLen).GetColor());
  }
  EXPECT_EQ(299.0f, PointsOf(buf, 44 + 8 * 64).back().x);
}

TEST(PtsRequest, SmallBuffersAndLonePoints) {
  CPtsRequest req;
  req.AddPoint(1, 1);
  std::vector<BYTE> buf(100);
  DWORD dwLen = 77;
  BOOL fMore = 77;
  EXPECT_FALSE(req.GetNextPacket(buf.data(), 52, &dwLen, &fMore));  // room for 1 point
  EXPECT_EQ(77u, dwLen);
  ASSERT_TRUE(req.GetNextPacket(buf.data(), 60, &dwLen, &fMore));
  EXPECT_EQ(0u, dwLen);  // a lone point is never sent
  EXPECT_FALSE(fMore);

  req.AddPoint(1, 1);
  req.AddPoint(2, 2);
  auto pCopy = req.Clone();
  ASSERT_TRUE(pCopy);
  ASSERT_TRUE(pCopy->GetNextPacket(buf.data(), 60, &dwLen, &fMore));
  EXPECT_EQ(60u, dwLen);
  EXPECT_EQ(2u, req.GetNumPoints());  // the original kept its points
}

class FileRequestTest : public ::testing::Test {
 protected:
  void WriteSlideCab(DWORD dwSlide, const std::string& contents) {
    char sz[MAX_PATH + 1];
    ASSERT_TRUE(SlideCabName(dwSlide, sz));
    ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(sz, contents.data(), contents.size()));
  }
  ScopedTmpDir m_tmp;
};

TEST_F(FileRequestTest, FourThousandBytesThroughThousandByteBuffers) {
  std::string file;
  for (int i = 0; i < 4000; ++i) file.push_back(char(i * 31));
  WriteSlideCab(9, file);
  CFileRequest req;
  ASSERT_TRUE(req.SetSlide(9));
  EXPECT_EQ(m_tmp.path() + "_OV_sld9.ppt.cab", req.GetFileName());
  EXPECT_EQ(-1, req.PercentSent());

  const struct { DWORD dwData; BOOL fFirst, fMore; int nPercent; } expected[] = {
      {960, TRUE, TRUE, 24}, {960, FALSE, TRUE, 48}, {960, FALSE, TRUE, 72},
      {960, FALSE, TRUE, 96}, {160, FALSE, FALSE, 100}};
  std::vector<BYTE> buf(1000);
  std::string sent;
  for (const auto& e : expected) {
    DWORD dwLen = 0;
    BOOL fMore = -1;
    ASSERT_TRUE(req.GetNextPacket(buf.data(), 1000, &dwLen, &fMore));
    ASSERT_EQ(e.dwData + 40, dwLen);
    const tSlidePacketHeader* h = tSlidePacketHeader::Of(buf.data());
    EXPECT_EQ(e.fFirst, h->Header.IsFirst());
    EXPECT_EQ(e.fMore, h->Header.IsMore());
    EXPECT_EQ(e.fMore, fMore);
    EXPECT_EQ(e.nPercent, req.PercentSent());
    EXPECT_EQ(orvalo::kPacketTypeFileData, h->Header.GetType());
    EXPECT_EQ("File Data", h->Header.GetTag());
    EXPECT_EQ(9u, h->GetFileSlide());
    sent.append(reinterpret_cast<const char*>(buf.data()) + 40, e.dwData);
  }
  EXPECT_EQ(file, sent);
}

TEST_F(FileRequestTest, MissingEmptyAndVanishingFiles) {
  CFileRequest missing;
  EXPECT_FALSE(missing.SetSlide(3));

  WriteSlideCab(4, "");
  CFileRequest empty;
  ASSERT_TRUE(empty.SetSlide(4));
  std::vector<BYTE> buf(1000);
  DWORD dwLen = 5;
  BOOL fMore = TRUE;
  ASSERT_TRUE(empty.GetNextPacket(buf.data(), 1000, &dwLen, &fMore));
  EXPECT_EQ(0u, dwLen);
  EXPECT_FALSE(fMore);

  WriteSlideCab(5, "abc");
  CFileRequest gone;
  ASSERT_TRUE(gone.SetSlide(5));
  char sz[MAX_PATH + 1];
  SlideCabName(5, sz);
  platform::DeleteFile(sz);
  EXPECT_FALSE(gone.GetNextPacket(buf.data(), 1000, &dwLen, &fMore));
  EXPECT_FALSE(gone.GetNextPacket(buf.data(), 40, &dwLen, &fMore));
}

TEST_F(FileRequestTest, CloneOfAStartedRequestGoesOnFromTheSamePlace) {
  WriteSlideCab(2, std::string(1500, 'a') + std::string(500, 'b'));
  CFileRequest req;
  ASSERT_TRUE(req.SetSlide(2));
  std::vector<BYTE> buf(1540);
  DWORD dwLen = 0;
  BOOL fMore = FALSE;
  ASSERT_TRUE(req.GetNextPacket(buf.data(), 1540, &dwLen, &fMore));
  auto pCopy = req.Clone();
  ASSERT_TRUE(pCopy);
  ASSERT_TRUE(pCopy->GetNextPacket(buf.data(), 1540, &dwLen, &fMore));
  EXPECT_EQ(540u, dwLen);
  EXPECT_EQ('b', buf[40]);
  EXPECT_FALSE(tPacketHeader::Of(buf.data())->IsFirst());
  EXPECT_EQ(100, pCopy->PercentSent());
}

}  // namespace
