// The audience's side of COA: building the presentation from received slide
// files, following the presenter's slide and step through the slide map.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "CoaFixture.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/SlideInserter.h"
#include "orvalo/WaitDialog.h"

namespace coatest {
namespace {

class CoaAudienceTest : public CoaTest {
 protected:
  // The audience's start: the waiting dialog, the master opened.
  void StartAudience() {
    m_coa.SetApp(m_app.get());
    ASSERT_TRUE(m_coa.ShowWaitDialog("t", "d", "sd", "st"));
    ASSERT_NE(g_pWaitDialog, nullptr);
    ASSERT_EQ(m_coa.GoTo(1, 0), COA_E_NOSLIDE);  // as the audience engine starts
    ASSERT_EQ(m_coa.OpenMaster(MasterFile().c_str()), COA_E_SUCCESS);
  }
  DWORD Add(int n) { return m_coa.AddSlideFromFile(SlideFile(n).c_str(), n); }
};

TEST_F(CoaAudienceTest, SlidesTakeLocalPlacesInArrivalOrderAndGoToUsesTheMap) {
  StartAudience();
  ASSERT_EQ(Add(5), COA_E_SUCCESS);
  // The first slide started the show on the placeholder and took the dialog.
  EXPECT_EQ(g_pWaitDialog, nullptr);
  host::ShowView v = Shown();
  ASSERT_TRUE(v.fShowing);
  EXPECT_EQ(v.nSlide, 1);
  EXPECT_EQ(v.title, "Will synch on next slide...");
  EXPECT_FALSE(v.fAccelerators);
  ASSERT_EQ(Add(3), COA_E_SUCCESS);
  EXPECT_EQ(Shown().nSlides, 3);

  ASSERT_EQ(m_coa.GoTo(3, 0), COA_E_SUCCESS);
  EXPECT_EQ(Shown().nSlide, 3);
  EXPECT_EQ(Shown().title, "Slide 3");
  ASSERT_EQ(m_coa.GoTo(5, 2), COA_E_SUCCESS);
  v = Shown();
  EXPECT_EQ(v.nSlide, 2);
  EXPECT_EQ(v.title, "Slide 5");
  EXPECT_EQ(v.nStep, 2);
  // Back one step: Previous, not a new start of the slide, which would take
  // the drawing with it.
  ASSERT_EQ(m_coa.DrawPoints(std::vector<tPtsPoint>{{1, 1}, {2, 2}}.data(), 2, 0), COA_E_SUCCESS);
  ASSERT_EQ(m_coa.GoTo(5, 1), COA_E_SUCCESS);
  v = Shown();
  EXPECT_EQ(v.nSlide, 2);
  EXPECT_EQ(v.nStep, 1);
  EXPECT_EQ(v.lines.size(), 1u);
  EXPECT_EQ(m_coa.GetCurStep(), 1);
}

TEST_F(CoaAudienceTest, GoToAnAbsentSlideKeepsThePositionUntilTheSlideArrives) {
  StartAudience();
  ASSERT_EQ(Add(1), COA_E_SUCCESS);  // the target since the start: shown at once
  EXPECT_EQ(Shown().title, "Slide 1");
  ASSERT_EQ(m_coa.GoTo(1, 1), COA_E_SUCCESS);

  EXPECT_EQ(m_coa.GoTo(2, 1), COA_E_NOSLIDE);
  host::ShowView v = Shown();
  EXPECT_EQ(v.title, "Slide 1");
  EXPECT_EQ(v.nStep, 1);
  EXPECT_EQ(m_coa.GetCurSlide(), 1);
  EXPECT_EQ(m_coa.GetCurStep(), 1);
  EXPECT_EQ(m_coa.GetTargetSlide(), 2);

  ASSERT_EQ(Add(4), COA_E_SUCCESS);  // not the target: the show stays
  EXPECT_EQ(Shown().title, "Slide 1");
  ASSERT_EQ(Add(2), COA_E_SUCCESS);
  v = Shown();
  EXPECT_EQ(v.title, "Slide 2");
  EXPECT_EQ(v.nStep, 1);
  EXPECT_EQ(m_coa.GetCurSlide(), 2);
}

TEST_F(CoaAudienceTest, AFirstSlideBeforeAnyMasterBecomesThePresentation) {
  m_coa.SetApp(m_app.get());
  ASSERT_TRUE(m_coa.ShowWaitDialog("", "", "", ""));
  ASSERT_EQ(Add(2), COA_E_SUCCESS);
  host::ShowView v = Shown();
  ASSERT_TRUE(v.fShowing);
  // The placeholder, the file's own slide, then the same slide appended.
  EXPECT_EQ(v.nSlides, 3);
  EXPECT_EQ(v.title, "Will synch on next slide...");
  EXPECT_EQ(m_coa.GotoSlide(2), COA_E_SUCCESS);
  EXPECT_EQ(Shown().nSlide, 3);
  EXPECT_EQ(Shown().title, "Slide 2");
}

TEST_F(CoaAudienceTest, SlideNumbersFromTheNetworkNeverReachBeyondTheTables) {
  StartAudience();
  ASSERT_EQ(Add(1), COA_E_SUCCESS);
  ASSERT_EQ(m_coa.GoTo(1, 1), COA_E_SUCCESS);
  const std::string file = SlideFile(3);
  for (int n : {0, -1, MAX_SLIDES + 1, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(m_coa.AddSlideFromFile(file.c_str(), n), COA_E_NOSLIDE);
    EXPECT_EQ(m_coa.GoTo(n, 0), n == 0 ? COA_E_NOSLIDE : COA_E_PPTCALL);
    EXPECT_EQ(m_coa.GotoSlide(n), n == 0 ? COA_E_NOSLIDE : COA_E_PPTCALL);
    EXPECT_EQ(m_coa.Advance(1, n), n == 0 ? COA_E_SUCCESS : COA_E_PPTCALL);
  }
  for (int nStep : {-1, 0x10000, INT_MAX, INT_MIN}) {
    EXPECT_EQ(m_coa.GoTo(1, nStep), COA_E_PPTCALL) << nStep;
  }
  // Through the defragmenter's seam, any 32-bit number.
  for (DWORD n : {0u, 501u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(orvalo::InsertSlideFromFile(file.c_str(), n), COA_E_NOSLIDE) << n;
  }
  host::ShowView v = Shown();
  EXPECT_EQ(v.nSlides, 2);  // the placeholder and slide 1
  EXPECT_EQ(v.title, "Slide 1");
  EXPECT_EQ(v.nStep, 1);
}

TEST_F(CoaAudienceTest, FailedInsertionsReportFailure) {
  StartAudience();
  const std::string missing = m_src + "missing.ppt";
  // The first file starts the show on the placeholder, yet is not inserted.
  EXPECT_EQ(m_coa.AddSlideFromFile(missing.c_str(), 1), COA_E_NOSLIDE);
  ASSERT_EQ(Add(1), COA_E_SUCCESS);
  const std::string corrupt = m_src + "corrupt.ppt";
  ASSERT_EQ(platform::WriteWholeFile(corrupt, "not a presentation", 18), 0u);
  EXPECT_EQ(m_coa.AddSlideFromFile(corrupt.c_str(), 2), COA_E_NOSLIDE);
  EXPECT_EQ(m_coa.AddSlideFromFile(missing.c_str(), 2), COA_E_NOSLIDE);
  EXPECT_EQ(m_coa.AddSlideFromFile("", 2), COA_E_NOSLIDE);
  EXPECT_EQ(m_coa.GotoSlide(2), COA_E_NOSLIDE);
  EXPECT_EQ(m_coa.OpenMaster(missing.c_str()), COA_E_PPTCALL);
}

TEST_F(CoaAudienceTest, TheDefragmentersInsertionReachesTheGlobalObject) {
  g_COA.SetApp(m_app.get());
  g_COA.ShowWaitDialog("", "", "", "");
  ASSERT_EQ(g_COA.OpenMaster(MasterFile().c_str()), COA_E_SUCCESS);
  EXPECT_EQ(orvalo::InsertSlideFromFile(SlideFile(1).c_str(), 1), COA_E_SUCCESS);
  EXPECT_EQ(Shown().title, "Slide 1");
  g_COA.Cleanup();
}

}  // namespace
}  // namespace coatest
