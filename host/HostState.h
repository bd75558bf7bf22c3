// The application's state behind its automation objects: open presentations,
// their slides, the running slide shows, the clipboard and the frame window.
//
// Internal to host_app. Single-threaded: everything here is used on the
// thread that created the application (the host's main thread), so nothing
// needs a guard. The automation objects are thin wrappers that hold shared
// pointers into this state; a closed presentation, a deleted slide or an
// ended show stays alive as long as a wrapper holds it, marked gone, so that
// calls on it fail instead of crashing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "host/PowerPoint.h"
#include "host/PresentationFile.h"
#include "ui/UiTypes.h"

namespace host {

class CPresDoc;

class CSlideDoc {
 public:
  SlideContent content;
  std::weak_ptr<CPresDoc> pres;
  bool fDeleted = false;
};

class CPresDoc {
 public:
  std::string name;  // "Talk.ppt", or "PresentationN"
  std::string path;  // empty when it has no file
  bool fReadOnly = false;
  bool fWindow = false;
  bool fClosed = false;
  std::string design;
  std::vector<std::pair<std::string, std::string>> tags;
  std::vector<std::shared_ptr<CSlideDoc>> slides;
  PpSlideShowAdvanceMode advanceMode = ppSlideShowManualAdvance;
  PpSlideShowType showType = ppShowTypeSpeaker;

  // 1-based index of the slide, 0 when it is not one of ours.
  LONG IndexOf(const CSlideDoc* pSlide) const;
  PresentationContent Content() const;
  void SetContent(const PresentationContent& content, const std::shared_ptr<CPresDoc>& self);
  std::shared_ptr<CSlideDoc> InsertSlide(std::size_t at, const SlideContent& content,
                                         const std::shared_ptr<CPresDoc>& self);
};

struct PenLine {
  float x1, y1, x2, y2;
  LONG rgb;
};

class CShowDoc {
 public:
  std::shared_ptr<CPresDoc> pres;
  std::shared_ptr<CSlideDoc> slide;  // the slide shown
  LONG nStep = 0;
  PpSlideShowState state = ppSlideShowRunning;
  PpSlideShowPointerType pointer = ppSlideShowPointerAutoArrow;
  LONG penRgb = 0x0000FF;  // red
  bool fAccelerators = true;
  std::vector<PenLine> lines;  // pen lines on the slide shown
  com::CComPtr<MouseTracker> tracker;
  bool fEnded = false;
  HWND hWnd = nullptr;  // its window, of class "screenClass"
  LONG nSerial = 0;
  bool fBeginTold = false;  // the add-ins heard of its start
};

// Posted to the frame window when a show began (wParam: its serial), so
// that add-ins hear of it from the message loop.
inline constexpr UINT kMsgShowBegun = 0x8000 + 0x2A1;  // WM_APP + 0x2A1

// Where a move through the show went.
enum class ShowMove { kNone, kStep, kSlide, kEnded };

class CHostState {
 public:
  CHostState();
  ~CHostState();
  CHostState(const CHostState&) = delete;
  CHostState& operator=(const CHostState&) = delete;

  // The state of the one application of this process; null when none lives.
  static std::shared_ptr<CHostState> Current();
  static std::shared_ptr<CHostState> Create();

  std::vector<std::shared_ptr<CPresDoc>> presentations;  // open, in opening order
  std::vector<std::shared_ptr<CShowDoc>> shows;          // running, in starting order
  bool fHaveClipboard = false;
  SlideContent clipboard;
  HWND hFrame = nullptr;
  int nUntitled = 0;
  LONG nShowSerial = 0;
  std::function<void()> onViewChanged;  // see host::SetViewChangeHandler

  std::shared_ptr<CPresDoc> Active() const;
  // Opens (adds) a presentation; one with a window becomes the active one.
  void AddPresentation(const std::shared_ptr<CPresDoc>& pres);
  void ClosePresentation(const std::shared_ptr<CPresDoc>& pres);
  std::shared_ptr<CShowDoc> StartShow(const std::shared_ptr<CPresDoc>& pres);
  void EndShow(const std::shared_ptr<CShowDoc>& show);
  // After slide nIndex (1-based) of pres was deleted: a show that showed it
  // shows the slide now at that place (or the last one), or ends with none.
  void SlideDeleted(const std::shared_ptr<CPresDoc>& pres, LONG nIndex);
  // Pen lines a show keeps per slide at most; more are refused.
  static constexpr std::size_t kMaxLines = 100000;
  // The moves of a show: through steps, then slides; Next past the last
  // slide ends the show, Previous at the first slide's step 0 stays.
  ShowMove Next(const std::shared_ptr<CShowDoc>& show);
  ShowMove Previous(const std::shared_ptr<CShowDoc>& show);
  // Shows slide nIndex (1-based) at step 0 (or, on the slide shown and
  // fReset false, at its step). DISP_E_BADINDEX for no such slide.
  HRESULT Goto(const std::shared_ptr<CShowDoc>& show, LONG nIndex, bool fReset);
  void UpdateFrameTitle();
  void ViewChanged();

  static constexpr const char* kCaption = "Microsoft PowerPoint";

 private:
  std::vector<std::weak_ptr<CPresDoc>> m_activation;  // windowed, most recent last
};

}  // namespace host
