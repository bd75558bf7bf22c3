// The presentation application in-process: its one application object and
// frame window, the add-ins it drives, and the seam through which the
// program and tests see what a slide-show window shows and act as its user.
//
// Everything here runs on the thread that created the application (the
// host's main thread), which must be the one that pumps its messages: the
// start of a slide show reaches the add-ins (OnSlideShowBegin) as a message
// to the frame window. Object-model calls never pump messages.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/HostAddin.h"
#include "host/PowerPoint.h"
#include "ui/UiTypes.h"

namespace host {

// Makes the application object of this process with its frame window (class
// "PP9FrameClass", title the Caption, then " - [", the active presentation's
// name and "]", or the Caption alone), or hands out the one that lives.
HRESULT CreateApplication(_Application** ppApp);
// The frame window of the living application, or null.
HWND GetFrameWindow();

// Add-ins (see host/HostAddin.h). Loading a path loaded before does nothing
// (S_FALSE). An attached add-in is not owned; it must stay valid until its
// OnShutdown has returned.
HRESULT LoadAddin(const std::string& path);
void AttachAddin(IHostAddin* pAddin);
bool IsAddinLoaded(const std::string& path);
// OnStartup to every add-in, with the living application.
void StartAddins();
// OnShutdown to every add-in, unloading their modules.
void ShutdownAddins();

// What the frontmost slide-show window (the one started last) shows.
struct ShownLine {
  float x1, y1, x2, y2;
  LONG rgb;  // red in the low byte
  bool operator==(const ShownLine&) const = default;
};
struct ShowView {
  bool fShowing = false;     // false: no slide show runs (the rest is empty)
  std::string presentation;  // its name
  LONG nSlide = 0;           // 1-based position in the presentation
  LONG nSlides = 0;
  std::string title;
  std::string body;
  LONG nStep = 0;  // animation steps shown, 0 .. nSteps
  LONG nSteps = 0;
  PpSlideShowState state = ppSlideShowRunning;
  PpSlideShowPointerType pointer = ppSlideShowPointerAutoArrow;
  LONG penRgb = 0;
  bool fAccelerators = true;
  std::vector<ShownLine> lines;
  bool operator==(const ShowView&) const = default;
};
ShowView GetShowView();
// The printed line of a view, for example
//   show Talk.ppt slide 2/5 step 1/3 running lines 2 title "Agenda"
//   show Talk.ppt slide 2/5 step 1/3 white lines 0 title "Agenda"
//   no show
// A paused screen is shown white, like a white screen.
std::string DescribeShowView(const ShowView& view);

// Called after every change of what a slide-show window shows (slide, step,
// screen, lines, a show's start or end), on the main thread; null: none.
void SetViewChangeHandler(std::function<void()> handler);

// A user's action, as the standard-input commands give them.
enum class UserAction {
  kNext,      // "next" (also "n")
  kPrevious,  // "previous" ("prev", "p")
  kGoto,      // "goto N"
  kBlack,     // "black"
  kWhite,     // "white": the paused screen, shown white
  kResume,    // "resume"
  kErase,     // "erase"
  kPen,       // "pen X,Y X,Y ...": one stroke
  kStart,     // "start": the active presentation's slide show
  kEnd,       // "end": ends the show
  kQuit,      // "quit"
};
struct PenPoint {
  float x, y;
};
struct UserCommand {
  UserAction action = UserAction::kNext;
  LONG nSlide = 0;               // kGoto
  std::vector<PenPoint> points;  // kPen, at least one
};
// Parses one line (blanks around and between words allowed, words in any
// case). False with a reason in *pError for anything else.
inline constexpr std::size_t kMaxPenPoints = 4096;
bool ParseUserCommand(std::string_view line, UserCommand* pCmd, std::string* pError);

// Performs a user's action on the frontmost show (kStart: on the active
// presentation), then tells the add-ins what the user did, as the host's
// message loop does for a standard-input command:
//   next/previous within a slide: OnSlideShowStep(+1/-1); to another slide
//   (or goto N): OnSlideShowNextSlide; next past the last slide and end:
//   OnSlideShowEnd; black, white, resume: OnSlideShowScreen; erase:
//   OnSlideShowErase; start: OnSlideShowBegin.
// A pen stroke feeds the installed mouse tracker (OnTrack per point, then
// EndTrack at the last point), or without one draws the lines itself in the
// pen colour. With the view's accelerators disabled, next, previous, goto,
// black, white, resume and erase are ignored (S_FALSE), as keys would be.
// S_FALSE also when nothing changed (previous at the first step of the first
// slide); E_FAIL without a show (or, for start, without a presentation with
// slides or with its show running); DISP_E_BADINDEX for a goto to no slide.
// kQuit only marks the quit (IsQuitRequested) for the host's loop.
HRESULT PerformUserAction(const UserCommand& cmd);
bool IsQuitRequested();

}  // namespace host
