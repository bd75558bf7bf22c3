#include <gtest/gtest.h>

#include <vector>

#include "HostFixture.h"
#include "com/ServerModule.h"

namespace hosttest {
namespace {

// Records what the host tells its add-ins.
class CRecordingAddin final : public IHostAddin {
 public:
  std::vector<std::string> events;
  void OnStartup(_Application*) override { events.push_back("startup"); }
  void OnSlideShowBegin(SlideShowWindow*) override { events.push_back("begin"); }
  void OnSlideShowNextSlide(SlideShowWindow* w) override {
    com::CComPtr<SlideShowView> view;
    LONG pos = 0;
    if (SUCCEEDED(w->get_View(view.Out()))) view->get_CurrentShowPosition(&pos);
    events.push_back("slide " + std::to_string(pos));
  }
  void OnSlideShowStep(SlideShowWindow*, LONG dir) override {
    events.push_back("step " + std::to_string(dir));
  }
  void OnSlideShowScreen(SlideShowWindow*, PpSlideShowState s) override {
    events.push_back("screen " + std::to_string(s));
  }
  void OnSlideShowErase(SlideShowWindow*) override { events.push_back("erase"); }
  void OnSlideShowEnd(_Presentation*) override { events.push_back("end"); }
  void OnShutdown() override { events.push_back("shutdown"); }
};

// A tracker that draws each stroke as the automation object's does.
class CDrawingTracker final : public com::CComObjectBase<MouseTracker> {
 public:
  explicit CDrawingTracker(SlideShowView* view) : m_view(view) {}
  HRESULT OnTrack(float x, float y) override {
    if (m_fHave) m_view->DrawLine(m_x, m_y, x, y);
    m_fHave = true, m_x = x, m_y = y;
    ++tracks;
    return S_OK;
  }
  HRESULT EndTrack(float, float) override {
    m_fHave = false;
    ++ends;
    return S_OK;
  }
  int tracks = 0, ends = 0;

 private:
  com::CComPtr<SlideShowView> m_view;
  bool m_fHave = false;
  float m_x = 0, m_y = 0;
};

host::UserCommand Cmd(const std::string& line) {
  host::UserCommand cmd;
  std::string why;
  EXPECT_TRUE(host::ParseUserCommand(line, &cmd, &why)) << line << ": " << why;
  return cmd;
}

std::string Shown() { return host::DescribeShowView(host::GetShowView()); }

// Slides 1..4 of MakeFile have 1, 2, 0, 1 steps.
TEST_F(HostTest, ViewMovesThroughStepsThenSlidesAndEnds) {
  auto p = Open(MakeFile("Talk.ppt", 4));
  auto view = Run(p.get());
  ASSERT_TRUE(view);
  EXPECT_EQ(Shown(), "show Talk.ppt slide 1/4 step 0/1 running lines 0 title \"Slide 1\"");
  struct Step {
    HRESULT (SlideShowView::*move)();
    LONG slide, step;
  } steps[] = {
      {&SlideShowView::Next, 1, 1},     {&SlideShowView::Next, 2, 0},
      {&SlideShowView::Next, 2, 1},     {&SlideShowView::Previous, 2, 0},
      {&SlideShowView::Previous, 1, 0},  // previous at step 0: the previous slide at step 0
      {&SlideShowView::Previous, 1, 0},  // at the very start: stays
  };
  for (const Step& s : steps) {
    ASSERT_EQ((view.get()->*s.move)(), S_OK);
    host::ShowView v = host::GetShowView();
    EXPECT_EQ(v.nSlide, s.slide);
    EXPECT_EQ(v.nStep, s.step);
  }
  ASSERT_EQ(view->GotoSlide(4, msoTrue), S_OK);
  EXPECT_EQ(view->GotoSlide(5, msoTrue), DISP_E_BADINDEX);
  EXPECT_EQ(view->GotoSlide(0, msoTrue), DISP_E_BADINDEX);
  LONG pos = 0;
  view->get_CurrentShowPosition(&pos);
  EXPECT_EQ(pos, 4);
  ASSERT_EQ(view->Next(), S_OK);
  ASSERT_EQ(view->Next(), S_OK);  // past the last slide: the show ends
  EXPECT_EQ(Shown(), "no show");
  EXPECT_EQ(view->Next(), E_FAIL);
  EXPECT_EQ(view->GotoSlide(1, msoTrue), E_FAIL);
  com::CComPtr<_Slide> slide;
  EXPECT_EQ(view->get_Slide(slide.Out()), E_FAIL);
  EXPECT_FALSE(slide);
}

TEST_F(HostTest, DeletingTheShownSlideShowsTheNextOrEndsTheShow) {
  auto p = Open(MakeFile("Talk.ppt", 3));
  auto view = Run(p.get());
  ASSERT_EQ(view->GotoSlide(2, msoTrue), S_OK);
  com::CComPtr<Slides> slides;
  ASSERT_EQ(p->get_Slides(slides.Out()), S_OK);
  for (const char* expect : {"Slide 3", "Slide 1"}) {
    com::CComPtr<_Slide> shown;
    ASSERT_EQ(view->get_Slide(shown.Out()), S_OK);
    ASSERT_EQ(shown->Delete(), S_OK);
    EXPECT_EQ(host::GetShowView().title, expect);
  }
  com::CComPtr<_Slide> last;
  ASSERT_EQ(slides->Item(com::CComVariant(1L), last.Out()), S_OK);
  ASSERT_EQ(last->Delete(), S_OK);
  EXPECT_EQ(Shown(), "no show");
  EXPECT_EQ(view->Next(), E_FAIL);
}

TEST_F(HostTest, RunRefusesEmptyAndRunningPresentations) {
  auto empty = Open(MakeFile("Empty.ppt", 0));
  com::CComPtr<SlideShowSettings> settings;
  ASSERT_EQ(empty->get_SlideShowSettings(settings.Out()), S_OK);
  com::CComPtr<SlideShowWindow> wnd;
  EXPECT_EQ(settings->Run(wnd.Out()), E_FAIL);
  auto p = Open(MakeFile("Talk.ppt", 2));
  auto view = Run(p.get());
  ASSERT_EQ(p->get_SlideShowSettings(settings.Out()), S_OK);
  EXPECT_EQ(settings->Run(wnd.Out()), E_FAIL);
  com::CComPtr<SlideShowWindows> windows;
  ASSERT_EQ(m_app->get_SlideShowWindows(windows.Out()), S_OK);
  LONG n = 0;
  windows->get_Count(&n);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(windows->Item(2, wnd.Out()), DISP_E_BADINDEX);
  ASSERT_EQ(p->Close(), S_OK);  // closing ends its show
  windows->get_Count(&n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(view->Exit(), E_FAIL);
}

TEST_F(HostTest, ScreenStatePenAndErase) {
  auto p = Open(MakeFile("Talk.ppt", 2));
  auto view = Run(p.get());
  ASSERT_EQ(view->put_State(ppSlideShowBlackScreen), S_OK);
  EXPECT_EQ(host::GetShowView().state, ppSlideShowBlackScreen);
  ASSERT_EQ(view->put_State(ppSlideShowPaused), S_OK);
  EXPECT_NE(Shown().find(" white "), std::string::npos);
  EXPECT_EQ(view->put_State(static_cast<PpSlideShowState>(9)), E_INVALIDARG);

  com::CComPtr<ColorFormat> color;
  ASSERT_EQ(view->get_PointerColor(color.Out()), S_OK);
  ASSERT_EQ(color->put_RGB(0x00FF00), S_OK);
  ASSERT_EQ(view->DrawLine(1, 2, 3, 4), S_OK);
  EXPECT_EQ(view->DrawLine(0, 0, std::numeric_limits<float>::quiet_NaN(), 0), E_INVALIDARG);
  host::ShowView v = host::GetShowView();
  ASSERT_EQ(v.lines.size(), 1u);
  EXPECT_EQ(v.lines[0], (host::ShownLine{1, 2, 3, 4, 0x00FF00}));
  ASSERT_EQ(view->Next(), S_OK);  // a step keeps the drawing
  EXPECT_EQ(host::GetShowView().lines.size(), 1u);
  ASSERT_EQ(view->EraseDrawing(), S_OK);
  EXPECT_TRUE(host::GetShowView().lines.empty());
  ASSERT_EQ(view->DrawLine(1, 2, 3, 4), S_OK);
  ASSERT_EQ(view->Next(), S_OK);  // another slide: the drawing goes
  EXPECT_TRUE(host::GetShowView().lines.empty());
  ASSERT_EQ(view->Exit(), S_OK);
  EXPECT_EQ(color->get_RGB(nullptr), E_POINTER);
  LONG rgb = 0;
  EXPECT_EQ(color->get_RGB(&rgb), E_FAIL);
}

TEST_F(HostTest, UserActionsReachTheAddinsAfterTheViewChanged) {
  CRecordingAddin addin;
  host::AttachAddin(&addin);
  host::StartAddins();
  auto p = Open(MakeFile("Talk.ppt", 2));
  ASSERT_EQ(host::PerformUserAction(Cmd("start")), S_OK);
  EXPECT_EQ(host::PerformUserAction(Cmd("start")), E_FAIL);
  for (const char* line : {"next", "next", "prev", "prev", "goto 2", "black", "black", "white",
                           "resume", "erase", "next", "next", "next"})
    host::PerformUserAction(Cmd(line));
  EXPECT_EQ(host::PerformUserAction(Cmd("next")), E_FAIL) << "the show has ended";
  host::ShutdownAddins();
  EXPECT_EQ(addin.events,
            (std::vector<std::string>{"startup", "begin", "step 1", "slide 2", "slide 1", "slide 2",
                                      "screen 3", "screen 2", "screen 1", "erase", "step 1",
                                      "step 1", "end", "shutdown"}));
}

TEST_F(HostTest, RunReachesAddinsFromTheMessageLoopAndAcceleratorsBlockKeys) {
  CRecordingAddin addin;
  host::AttachAddin(&addin);
  auto p = Open(MakeFile("Talk.ppt", 2));
  auto view = Run(p.get());
  EXPECT_TRUE(addin.events.empty()) << "never from inside the call";
  PumpMessages();
  EXPECT_EQ(addin.events, std::vector<std::string>{"begin"});
  ASSERT_EQ(view->put_AcceleratorsEnabled(msoFalse), S_OK);
  for (const char* line : {"next", "prev", "goto 2", "black", "erase"})
    EXPECT_EQ(host::PerformUserAction(Cmd(line)), S_FALSE) << line;
  EXPECT_EQ(Shown(), "show Talk.ppt slide 1/2 step 0/1 running lines 0 title \"Slide 1\"");
  ASSERT_EQ(host::PerformUserAction(Cmd("end")), S_OK);
  host::ShutdownAddins();  // before the add-in goes
  EXPECT_EQ(addin.events, (std::vector<std::string>{"begin", "end", "shutdown"}));
}

TEST_F(HostTest, PenStrokeFeedsTheInstalledTrackerOrDrawsItself) {
  auto p = Open(MakeFile("Talk.ppt", 2));
  auto view = Run(p.get());
  ASSERT_EQ(host::PerformUserAction(Cmd("pen 0,0 10,0 10,10")), S_OK);
  EXPECT_EQ(host::GetShowView().lines.size(), 2u);
  ASSERT_EQ(view->EraseDrawing(), S_OK);

  auto* tracker = new CDrawingTracker(view.get());
  com::CComPtr<MouseTracker> hold(tracker);
  ASSERT_EQ(view->InstallTracker(tracker, msoFalse), S_OK);
  ASSERT_EQ(host::PerformUserAction(Cmd("pen 1,1")), S_OK);
  ASSERT_EQ(host::PerformUserAction(Cmd("pen 0,0 5,5 9,9")), S_OK);
  EXPECT_EQ(tracker->tracks, 4);
  EXPECT_EQ(tracker->ends, 2);
  EXPECT_EQ(host::GetShowView().lines.size(), 2u) << "a one-point stroke draws nothing";
  ASSERT_EQ(view->InstallTracker(nullptr, msoFalse), S_OK);  // removed: strokes draw themselves
  ASSERT_EQ(host::PerformUserAction(Cmd("pen 0,0 5,5")), S_OK);
  EXPECT_EQ(tracker->tracks, 4);
  EXPECT_EQ(host::GetShowView().lines.size(), 3u);
  ASSERT_EQ(view->Exit(), S_OK);  // the view lets the tracker go
  EXPECT_EQ(host::PerformUserAction(Cmd("pen 1,1 2,2")), E_FAIL);
}

TEST(UserCommandTest, ParsesCommandsAndRefusesTheRest) {
  struct Case {
    const char* line;
    bool ok;
    host::UserAction action;
  } cases[] = {
      {"next", true, host::UserAction::kNext},
      {"  NEXT \r", true, host::UserAction::kNext},
      {"prev", true, host::UserAction::kPrevious},
      {"goto 3", true, host::UserAction::kGoto},
      {"white", true, host::UserAction::kWhite},
      {"pen 1.5,2 3,-4", true, host::UserAction::kPen},
      {"quit", true, host::UserAction::kQuit},
      {"", false, {}},
      {"goto", false, {}},
      {"goto 0", false, {}},
      {"goto 3x", false, {}},
      {"goto 99999999999", false, {}},
      {"next 2", false, {}},
      {"pen", false, {}},
      {"pen 1,", false, {}},
      {"pen 1;2", false, {}},
      {"pen nan,1", false, {}},
      {"pen 1e9,1", false, {}},
      {"jump", false, {}},
  };
  for (const Case& c : cases) {
    host::UserCommand cmd;
    std::string why;
    EXPECT_EQ(host::ParseUserCommand(c.line, &cmd, &why), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(cmd.action, c.action) << c.line;
    } else {
      EXPECT_FALSE(why.empty()) << c.line;
    }
  }
  host::UserCommand cmd = Cmd("pen 1.5,2 3,-4");
  ASSERT_EQ(cmd.points.size(), 2u);
  EXPECT_EQ(cmd.points[1].y, -4.0f);
  EXPECT_EQ(Cmd("goto 12").nSlide, 12);
}

}  // namespace
}  // namespace hosttest
