// COA's mouse tracker on the presenter's view, bound to the presenter engine,
// and its end at COA's cleanup.
#include <gtest/gtest.h>

#include <string>

#include "CoaFixture.h"
#include "orvalo/Presenter.h"
#include "orvalo/PtsPacket.h"

namespace coatest {
namespace {

class CoaTrackerTest : public CoaTest {
 protected:
  void SetUp() override {
    CoaTest::SetUp();
    auto talk = Open(MakeFile("Talk.ppt", 2));
    m_wnd = Run(talk.get());
    ASSERT_TRUE(m_wnd);
    m_coa.SetApp(m_app.get());
    ASSERT_EQ(m_coa.SetSlideShowWindow(m_wnd.get()), COA_E_SUCCESS);
  }
  void TearDown() override {
    m_wnd.Release();
    CoaTest::TearDown();
  }
  static HRESULT Pen(const char* szLine) {
    host::UserCommand cmd;
    std::string why;
    EXPECT_TRUE(host::ParseUserCommand(szLine, &cmd, &why)) << why;
    return host::PerformUserAction(cmd);
  }

  com::CComPtr<SlideShowWindow> m_wnd;
};

TEST_F(CoaTrackerTest, StrokesReachTheTrackerUntilCleanupTakesItOut) {
  CPresenter presenter;
  ASSERT_EQ(m_coa.InstallTracker(&presenter), COA_E_SUCCESS);
  ASSERT_EQ(m_coa.InstallTracker(&presenter), COA_E_SUCCESS);  // replaces the first
  ASSERT_EQ(Pen("pen 0,0 10,0 10,10"), S_OK);
  EXPECT_EQ(Shown().lines.size(), 2u);
  // Received points draw through the tracker's view.
  const tPtsPoint pts[] = {{1, 1}, {2, 2}};
  ASSERT_EQ(m_coa.DrawPoints(pts, 2, 0xFF), COA_E_SUCCESS);
  EXPECT_EQ(Shown().lines.size(), 3u);

  // Cleanup takes the tracker out of the view, which then draws by itself.
  m_coa.Cleanup();
  ASSERT_EQ(Pen("pen 5,5 6,6 7,7"), S_OK);
  EXPECT_EQ(Shown().lines.size(), 5u);
}

TEST_F(CoaTrackerTest, InstallFailsWithoutAView) {
  CPresenter presenter;
  ASSERT_EQ(m_coa.Quit(), COA_E_SUCCESS);  // the show's view is gone
  EXPECT_EQ(m_coa.InstallTracker(&presenter), COA_E_PPTCALL);
}

}  // namespace
}  // namespace coatest
