// COA and the running slide show: choosing its window, the screen state, the
// end of the show, drawing received points and the mouse tracker's strokes.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "CoaFixture.h"
#include "orvalo/COATracker.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/Request.h"

namespace coatest {
namespace {

class CoaShowTest : public CoaTest {
 protected:
  // A running show of a 3-slide presentation, COA's slide-show window.
  void StartShow() {
    m_talk = Open(MakeFile("Talk.ppt", 3));
    m_wnd = Run(m_talk.get());
    ASSERT_TRUE(m_wnd);
    ASSERT_EQ(m_wnd->get_View(m_view.Out()), S_OK);
    m_coa.SetApp(m_app.get());
    ASSERT_EQ(m_coa.SetSlideShowWindow(m_wnd.get()), COA_E_SUCCESS);
  }
  static void Tag(_Presentation* p, const char* name, const char* value) {
    com::CComPtr<Tags> tags;
    ASSERT_EQ(p->get_Tags(tags.Out()), S_OK);
    ASSERT_EQ(tags->Add(com::CComBSTR(name), com::CComBSTR(value)), S_OK);
  }
  static std::string TagOf(_Presentation* p, const char* name) {
    com::CComPtr<Tags> tags;
    com::CComBSTR value;
    EXPECT_EQ(p->get_Tags(tags.Out()), S_OK);
    EXPECT_EQ(tags->Item(com::CComBSTR(name), value.Out()), S_OK);
    return value.ToUtf8();
  }
  LONG PenRgb() {
    com::CComPtr<ColorFormat> color;
    LONG rgb = -1;
    EXPECT_EQ(m_view->get_PointerColor(color.Out()), S_OK);
    EXPECT_EQ(color->get_RGB(&rgb), S_OK);
    return rgb;
  }

  com::CComPtr<_Presentation> m_talk;
  com::CComPtr<SlideShowWindow> m_wnd;
  com::CComPtr<SlideShowView> m_view;
};

TEST_F(CoaShowTest, TheWindowTaggedReriRudoIsChosenWhateverItsPlace) {
  auto other = Open(MakeFile("Other.ppt", 2));
  auto otherWnd = Run(other.get());
  auto talk = Open(MakeFile("Talk.ppt", 2));
  auto talkWnd = Run(talk.get());
  m_coa.SetApp(m_app.get());
  EXPECT_EQ(m_coa.SetSlideShowWindow(), 1u);  // none tagged
  Tag(other.get(), "ReriRudo", "0");
  Tag(talk.get(), "rerirudo", "1");
  ASSERT_EQ(m_coa.SetSlideShowWindow(), COA_E_SUCCESS);
  // The chosen window is the one COA drives.
  ASSERT_EQ(m_coa.SetScreen(3), COA_E_SUCCESS);
  com::CComPtr<SlideShowView> view;
  PpSlideShowState state = ppSlideShowRunning;
  ASSERT_EQ(talkWnd->get_View(view.Out()), S_OK);
  view->get_State(&state);
  EXPECT_EQ(state, ppSlideShowBlackScreen);
  ASSERT_EQ(otherWnd->get_View(view.Out()), S_OK);
  view->get_State(&state);
  EXPECT_EQ(state, ppSlideShowRunning);
}

TEST_F(CoaShowTest, ScreenStates) {
  StartShow();
  ASSERT_EQ(m_view->DrawLine(1, 1, 2, 2), S_OK);
  const struct {
    int nState;
    PpSlideShowState shown;
    size_t nLines;
  } cases[] = {
      {3, ppSlideShowBlackScreen, 1}, {2, ppSlideShowPaused, 1},      {0, ppSlideShowRunning, 1},
      {1, ppSlideShowRunning, 0},     {3, ppSlideShowBlackScreen, 0}, {-7, ppSlideShowRunning, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nState);
    ASSERT_EQ(m_coa.SetScreen(c.nState), COA_E_SUCCESS);
    EXPECT_EQ(Shown().state, c.shown);
    EXPECT_EQ(Shown().lines.size(), c.nLines);
  }
}

TEST_F(CoaShowTest, QuitRecordsTheEndOnTheShowsPresentationAndEndsTheShow) {
  auto front = Open(MakeFile("Front.ppt", 1));  // active, but not the show's
  StartShow();
  ASSERT_EQ(m_coa.Quit(), COA_E_SUCCESS);
  EXPECT_FALSE(Shown().fShowing);
  EXPECT_EQ(TagOf(m_talk.get(), "ConferenceServer"), "0");
  EXPECT_EQ(TagOf(front.get(), "ConferenceServer"), "");
  // After the end every show call fails, and says so.
  EXPECT_EQ(m_coa.Quit(), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.SetScreen(3), COA_E_PPTCALL);
}

TEST_F(CoaShowTest, WithoutAShowEveryOperationReturnsItsFailure) {
  m_coa.SetApp(m_app.get());
  const tPtsPoint pt{1, 1};
  EXPECT_EQ(m_coa.SetSlideShowWindow(), 1u);
  EXPECT_EQ(m_coa.SetSlideShowWindow(nullptr), 2u);
  EXPECT_EQ(m_coa.SetScreen(2), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.Quit(), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.SetPointerType(ppSlideShowPointerPen), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.DrawPoints(&pt, 1, 0xFF), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.InstallTracker(nullptr), COA_E_PPTCALL);
  m_coa.ResetSlideMap(1);
  EXPECT_EQ(m_coa.GotoSlide(2), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.GoTo(2, 0), COA_E_PPTCALL);
  EXPECT_EQ(m_coa.GetCurSlide(), 0);
}

TEST_F(CoaShowTest, DrawPointsJoinsThePacketsPointsInItsColourAndRestoresThePen) {
  StartShow();
  com::CComPtr<ColorFormat> color;
  ASSERT_EQ(m_view->get_PointerColor(color.Out()), S_OK);
  ASSERT_EQ(color->put_RGB(0x123456), S_OK);

  // A packet as it arrives: filled on the presenter, read on the audience.
  CPtsPacket fill(200);
  ASSERT_TRUE(fill.HasBuffer());
  fill.SetColor(0x0000FF);
  for (const tPtsPoint& p : {tPtsPoint{10, 20}, tPtsPoint{30.5f, 40}, tPtsPoint{50, 60.25f}}) {
    ASSERT_TRUE(fill.AddPoint(p.x, p.y));
  }
  CPtsPacket received(static_cast<const void*>(fill.GetPacket()), fill.GetSize());
  ASSERT_EQ(m_coa.DrawPoints(received), COA_E_SUCCESS);
  EXPECT_EQ(Shown().lines, (std::vector<host::ShownLine>{{10, 20, 30.5f, 40, 0x0000FF},
                                                         {30.5f, 40, 50, 60.25f, 0x0000FF}}));
  EXPECT_EQ(PenRgb(), 0x123456);

  // No points: the colour is set and restored, nothing drawn.
  ASSERT_EQ(m_coa.DrawPoints(nullptr, 0, 0x00FF00), COA_E_SUCCESS);
  EXPECT_EQ(Shown().lines.size(), 2u);
  EXPECT_EQ(PenRgb(), 0x123456);

  // A point that is no number breaks the line instead of reaching it.
  ASSERT_EQ(m_view->EraseDrawing(), S_OK);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const tPtsPoint pts[] = {{1, 1}, {2, 2}, {nan, 3}, {4, 4}, {5, 5}};
  ASSERT_EQ(m_coa.DrawPoints(pts, 5, 0xFF0000), COA_E_SUCCESS);
  EXPECT_EQ(Shown().lines,
            (std::vector<host::ShownLine>{{1, 1, 2, 2, 0xFF0000}, {4, 4, 5, 5, 0xFF0000}}));
}

// Keeps a copy of every stroke the tracker hands on.
struct StrokeRecorder {
  std::vector<std::unique_ptr<CRequest>> strokes;
  COATracker::StrokeSink Sink() {
    return [this](CPtsRequest* p) {
      strokes.push_back(p->Clone());
      return TRUE;
    };
  }
};

// The points of a stroke as its packets carry them, and their colour.
std::vector<host::ShownLine> PointsOf(CRequest* pStroke) {
  std::vector<host::ShownLine> out;
  BYTE packet[1500];
  DWORD dwLen = 0;
  BOOL fMore = TRUE;
  while (fMore && pStroke->GetNextPacket(packet, sizeof packet, &dwLen, &fMore) && dwLen > 0) {
    CPtsPacket read(static_cast<const void*>(packet), dwLen);
    for (DWORD i = 0; i < read.GetNumPoints(); ++i) {
      tPtsPoint p{};
      read.GetPoint(i, &p);
      out.push_back({p.x, p.y, 0, 0, static_cast<LONG>(read.GetColor())});
    }
  }
  return out;
}

TEST_F(CoaShowTest, ATrackedStrokeIsDrawnLocallyAndHandedOnInThePensColour) {
  StartShow();
  com::CComPtr<ColorFormat> color;
  ASSERT_EQ(m_view->get_PointerColor(color.Out()), S_OK);
  ASSERT_EQ(color->put_RGB(0x00AA00), S_OK);
  StrokeRecorder rec;
  auto* tracker = new COATracker(m_view.get(), rec.Sink());
  ASSERT_EQ(m_view->InstallTracker(tracker, msoFalse), S_OK);

  host::UserCommand cmd;
  std::string why;
  ASSERT_TRUE(host::ParseUserCommand("pen 1,2 3,4 5,6", &cmd, &why)) << why;
  ASSERT_EQ(host::PerformUserAction(cmd), S_OK);
  EXPECT_EQ(Shown().lines,
            (std::vector<host::ShownLine>{{1, 2, 3, 4, 0x00AA00}, {3, 4, 5, 6, 0x00AA00}}));
  ASSERT_EQ(rec.strokes.size(), 1u);
  EXPECT_EQ(PointsOf(rec.strokes[0].get()),
            (std::vector<host::ShownLine>{
                {1, 2, 0, 0, 0x00AA00}, {3, 4, 0, 0, 0x00AA00}, {5, 6, 0, 0, 0x00AA00}}));

  // A stroke of one movement draws nothing and hands on its one point; each
  // stroke starts a line of its own.
  ASSERT_TRUE(host::ParseUserCommand("pen 9,9", &cmd, &why)) << why;
  ASSERT_EQ(host::PerformUserAction(cmd), S_OK);
  EXPECT_EQ(Shown().lines.size(), 2u);
  ASSERT_EQ(rec.strokes.size(), 2u);
  auto* pLone = dynamic_cast<CPtsRequest*>(rec.strokes[1].get());
  ASSERT_NE(pLone, nullptr);
  EXPECT_EQ(pLone->GetNumPoints(), 1u);

  // Detached, the tracker the view still holds does nothing.
  tracker->Detach();
  ASSERT_TRUE(host::ParseUserCommand("pen 0,0 7,7", &cmd, &why)) << why;
  host::PerformUserAction(cmd);
  EXPECT_EQ(Shown().lines.size(), 2u);
  EXPECT_EQ(rec.strokes.size(), 2u);
  tracker->Release();  // the owner's reference; the view keeps its own
}

}  // namespace
}  // namespace coatest
