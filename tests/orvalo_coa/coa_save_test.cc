// The presenter's side of COA: finding the frame window and saving the
// presentation into the master and per-slide files and cabinets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CoaFixture.h"
#include "orvalo/Cabinet.h"

namespace coatest {
namespace {

using Files = std::vector<std::string>;

TEST_F(CoaTest, SaveSlidesWritesTheMasterAndEachSlideAloneAndDeleteRemovesExactlyThem) {
  auto talk = Open(MakeFile("Talk.ppt", 3));
  // A file of the same folder that COA did not write stays.
  ASSERT_EQ(platform::WriteWholeFile(m_tmp.path() + "_OV_sld4.ppt.bak", "x", 1), 0u);
  m_coa.SetApp(m_app.get());
  ASSERT_EQ(m_coa.Init(), COA_E_SUCCESS);
  EXPECT_EQ(m_coa.GetSlideCounter(), 3);
  EXPECT_EQ(TempFiles(), (Files{"_OV_Mast.ppt", "_OV_Mast.ppt.cab", "_OV_sld1.ppt",
                                "_OV_sld1.ppt.cab", "_OV_sld2.ppt", "_OV_sld2.ppt.cab",
                                "_OV_sld3.ppt", "_OV_sld3.ppt.cab", "_OV_sld4.ppt.bak"}));

  host::PresentationContent master;
  ASSERT_EQ(host::ReadPresentationFile(m_tmp.path() + "_OV_Mast.ppt", &master), 0u);
  EXPECT_EQ(master.design, "Ocean");
  EXPECT_TRUE(master.slides.empty());
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "_OV_sld" + std::to_string(n) + ".ppt";
    host::PresentationContent slide;
    ASSERT_EQ(host::ReadPresentationFile(m_tmp.path() + name, &slide), 0u) << name;
    ASSERT_EQ(slide.slides.size(), 1u) << name;
    EXPECT_EQ(slide.slides[0], MadeSlide(n)) << name;
    // Each cabinet holds its file under the same bare name.
    const std::string out = m_tmp.path() + "out" + std::to_string(n);
    ASSERT_EQ(platform::CreateDirectory(out), 0u);
    char szOut[MAX_PATH + 1];
    ASSERT_TRUE(
        orvalo::Extract((m_tmp.path() + name + ".cab").c_str(), out.c_str(), szOut, name.c_str()));
    std::string a, b;
    platform::ReadWholeFile(szOut, &a);
    platform::ReadWholeFile(m_tmp.path() + name, &b);
    EXPECT_EQ(a, b) << name;
  }
  // The presenter's own presentation is untouched and still shown.
  com::CComPtr<Slides> slides;
  ASSERT_EQ(talk->get_Slides(slides.Out()), S_OK);
  LONG n = 0;
  slides->get_Count(&n);
  EXPECT_EQ(n, 3);

  EXPECT_EQ(m_coa.DeleteTempFiles(), COA_E_SUCCESS);
  EXPECT_EQ(TempFiles(), Files{"_OV_sld4.ppt.bak"});
  EXPECT_EQ(m_coa.GetSlideCounter(), 0);
}

TEST_F(CoaTest, SaveSlidesOfAPresentationWithoutSlidesWritesOnlyTheMaster) {
  auto empty = Open(MakeFile("Empty.ppt", 0));
  m_coa.SetApp(m_app.get());
  ASSERT_EQ(m_coa.SaveSlides(0), COA_E_SUCCESS);
  EXPECT_EQ(m_coa.GetSlideCounter(), 0);
  EXPECT_EQ(TempFiles(), (Files{"_OV_Mast.ppt", "_OV_Mast.ppt.cab"}));
  m_coa.DeleteTempFiles();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CoaTest, ASecondSaveReplacesTheFirstAndCleanupDeletesTheFiles) {
  auto big = Open(MakeFile("Big.ppt", 4));
  m_coa.SetApp(m_app.get());
  ASSERT_EQ(m_coa.SaveSlides(0), COA_E_SUCCESS);
  ASSERT_EQ(big->Close(), S_OK);
  auto small = Open(MakeFile("Small.ppt", 2));
  ASSERT_EQ(m_coa.SaveSlides(1), COA_E_SUCCESS);  // keeping the emptied master
  EXPECT_EQ(TempFiles(), (Files{"_OV_Mast.ppt", "_OV_Mast.ppt.cab", "_OV_sld1.ppt",
                                "_OV_sld1.ppt.cab", "_OV_sld2.ppt", "_OV_sld2.ppt.cab"}));
  host::PresentationContent slide;
  ASSERT_EQ(host::ReadPresentationFile(m_tmp.path() + "_OV_sld2.ppt", &slide), 0u);
  EXPECT_EQ(slide.design, "Ocean");
  ASSERT_EQ(slide.slides.size(), 1u);
  m_coa.Cleanup();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CoaTest, SaveSlidesWithoutAnActivePresentationFailsAndLeavesNoFile) {
  m_coa.SetApp(m_app.get());
  EXPECT_EQ(m_coa.SaveSlides(0), COA_E_PPTCALL);
  m_coa.DeleteTempFiles();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CoaTest, GetPPHWNDFindsTheFrameWithOrWithoutAnActivePresentation) {
  {
    COA coa;
    coa.SetApp(m_app.get());
    EXPECT_EQ(coa.GetPPHWND(), host::GetFrameWindow());  // the caption alone
    coa.Cleanup();
  }
  auto talk = Open(MakeFile("Talk.ppt", 1));
  m_coa.SetApp(m_app.get());
  ASSERT_NE(host::GetFrameWindow(), nullptr);
  EXPECT_EQ(m_coa.GetPPHWND(), host::GetFrameWindow());  // caption - [Talk.ppt]
}

}  // namespace
}  // namespace coatest
