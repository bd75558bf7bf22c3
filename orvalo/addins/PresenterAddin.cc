// The presenter's macro add-in "orvaloPres.ppa": on start-up it tags the
// active presentation for the presenter control, creates the control, starts
// the slide show and sets the control up (SetApp, SetSlideShowWindow, Init,
// AddStream, InstallTracker); then it forwards the user's slide-show actions
// to the control as live commands and ends the control at shutdown.
#include <cstdio>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Runtime.h"
#include "host/HostAddin.h"
#include "orvalo/addins/AddinSettings.h"
#include "orvalo/addins/LateBoundControl.h"
#include "orvalo/orvaloCom.h"

namespace {

using com::CComPtr;
using com::CComVariant;
using orvalo::Report;

constexpr char kAddin[] = "orvaloPres";

class CPresenterAddin final : public IHostAddin {
 public:
  void OnStartup(_Application* pApp) override;
  void OnSlideShowBegin(SlideShowWindow* pWnd) override;
  void OnSlideShowNextSlide(SlideShowWindow* pWnd) override;
  void OnSlideShowStep(SlideShowWindow* pWnd, LONG nDirection) override;
  void OnSlideShowScreen(SlideShowWindow* pWnd, PpSlideShowState state) override;
  void OnSlideShowErase(SlideShowWindow* pWnd) override;
  void OnSlideShowEnd(_Presentation* pPres) override;
  void OnShutdown() override;

 private:
  // Tags the active presentation "ReriRudo" = "1" for SetSlideShowWindow.
  static bool TagPresentation(_Application* pApp);
  // The rest of the set-up once a show runs: SetSlideShowWindow, Init,
  // AddStream, InstallTracker, then the slide shown.
  void SetUpShow(SlideShowWindow* pWnd);
  // Sends a live command while the show is set up and not ended.
  void Send(const std::string& sCommand);

  orvalo::CLateBoundControl m_Control{kAddin};
  orvalo::tOrvaloSettings m_Settings;
  bool m_fCoInitialized = false;
  bool m_fReady = false;   // the control exists and has the application
  bool m_fShowUp = false;  // SetUpShow succeeded
  bool m_fEnded = false;   // "exitshow" was sent
};

// The 1-based slide the window shows, or 0.
LONG ShownSlide(SlideShowWindow* pWnd) {
  CComPtr<SlideShowView> view;
  LONG n = 0;
  if (pWnd == nullptr || FAILED(pWnd->get_View(view.Out())) ||
      FAILED(view->get_CurrentShowPosition(&n)))
    return 0;
  return n;
}

// The screen state the window shows (running when it cannot be read).
PpSlideShowState ShownState(SlideShowWindow* pWnd) {
  CComPtr<SlideShowView> view;
  PpSlideShowState state = ppSlideShowRunning;
  if (pWnd == nullptr || FAILED(pWnd->get_View(view.Out())) || FAILED(view->get_State(&state)))
    return ppSlideShowRunning;
  return state;
}

// The live command of a screen state: black 3, paused (shown white) 2,
// running 0.
std::string ScreenCommand(PpSlideShowState state) {
  switch (state) {
    case ppSlideShowBlackScreen:
      return "setscreen~3";
    case ppSlideShowPaused:
    case ppSlideShowWhiteScreen:
      return "setscreen~2";
    default:
      return "setscreen~0";
  }
}

void CPresenterAddin::OnStartup(_Application* pApp) {
  std::string sError;
  if (orvalo::ReadOrvaloSettings(&m_Settings, &sError) != ERROR_SUCCESS) {
    orvalo::ReportAddinError(kAddin, sError, Report::kLineAndBox);
    return;
  }
  if (pApp == nullptr || !TagPresentation(pApp)) return;
  m_fCoInitialized = SUCCEEDED(CoInitialize(nullptr));
  if (FAILED(m_Control.Create(kOrvaloSndViProgId)) ||
      FAILED(m_Control.Call("SetApp", {CComVariant(static_cast<IUnknown*>(pApp))},
                            Report::kLineAndBox)))
    return;
  m_fReady = true;
  // Start the show; when that fails (one runs already, or the user starts it
  // later), its begin sets the control up instead.
  CComPtr<_Presentation> pres;
  CComPtr<SlideShowSettings> settings;
  CComPtr<SlideShowWindow> wnd;
  HRESULT hr = pApp->get_ActivePresentation(pres.Out());
  if (SUCCEEDED(hr)) hr = pres->get_SlideShowSettings(settings.Out());
  if (SUCCEEDED(hr)) hr = settings->Run(wnd.Out());
  if (FAILED(hr)) {
    char szHr[16];
    std::snprintf(szHr, sizeof szHr, "0x%08X", static_cast<unsigned>(hr));
    orvalo::ReportAddinError(kAddin,
                             std::string("cannot start the slide show (") + szHr +
                                 "); the control is set up when a show begins",
                             Report::kLineOnly);
    return;
  }
  SetUpShow(wnd.get());
}

bool CPresenterAddin::TagPresentation(_Application* pApp) {
  CComPtr<_Presentation> pres;
  CComPtr<Tags> tags;
  com::CComBSTR name("ReriRudo"), value("1");
  HRESULT hr = pApp->get_ActivePresentation(pres.Out());
  if (SUCCEEDED(hr)) hr = pres->get_Tags(tags.Out());
  if (SUCCEEDED(hr)) hr = tags->Add(name, value);
  if (FAILED(hr)) {
    orvalo::ReportAddinError(kAddin, "no presentation to show: open one to present it",
                             Report::kLineAndBox);
    return false;
  }
  return true;
}

void CPresenterAddin::SetUpShow(SlideShowWindow* pWnd) {
  if (!m_fReady || m_fShowUp || m_fEnded) return;
  if (FAILED(m_Control.Call("SetSlideShowWindow", {}, Report::kLineAndBox)) ||
      FAILED(m_Control.Call("Init", {}, Report::kLineAndBox)) ||
      FAILED(m_Control.Call(
          "AddStream",
          {CComVariant(m_Settings.sMasterAddr),
           CComVariant(static_cast<LONG>(m_Settings.dwMasterPort)),
           CComVariant(m_Settings.sLiveAddr), CComVariant(static_cast<LONG>(m_Settings.dwPort)),
           CComVariant(static_cast<LONG>(m_Settings.dwTTL)),
           CComVariant(orvalo::BytesPerSecond(m_Settings))},
          Report::kLineAndBox)) ||
      FAILED(m_Control.Call("InstallTracker", {}, Report::kLineAndBox))) {
    m_fReady = false;  // reported once; the show goes on unmirrored
    return;
  }
  m_fShowUp = true;
  // Where the show stands: the presenter engine starts from slide 0 and a
  // black screen, the audience from the same, so both are sent.
  if (LONG nSlide = ShownSlide(pWnd); nSlide > 0) Send("gotoslide~" + std::to_string(nSlide));
  Send(ScreenCommand(ShownState(pWnd)));
}

void CPresenterAddin::Send(const std::string& sCommand) {
  if (!m_fShowUp || m_fEnded) return;
  m_Control.Call("Command", {CComVariant(sCommand)}, Report::kLineOnly);
}

void CPresenterAddin::OnSlideShowBegin(SlideShowWindow* pWnd) { SetUpShow(pWnd); }

void CPresenterAddin::OnSlideShowNextSlide(SlideShowWindow* pWnd) {
  if (LONG nSlide = ShownSlide(pWnd); nSlide > 0) Send("gotoslide~" + std::to_string(nSlide));
}

void CPresenterAddin::OnSlideShowStep(SlideShowWindow* pWnd, LONG nDirection) {
  Send("step~" + std::to_string(nDirection) + "~" + std::to_string(ShownSlide(pWnd)));
}

void CPresenterAddin::OnSlideShowScreen(SlideShowWindow*, PpSlideShowState state) {
  Send(ScreenCommand(state));
}

void CPresenterAddin::OnSlideShowErase(SlideShowWindow*) { Send("setscreen~1"); }

void CPresenterAddin::OnSlideShowEnd(_Presentation*) {
  Send("exitshow");
  m_fEnded = true;
}

void CPresenterAddin::OnShutdown() {
  if (m_Control.IsCreated()) {
    m_Control.Call("Terminate", {}, Report::kLineOnly);
    m_Control.Release();
  }
  m_fReady = m_fShowUp = false;
  if (m_fCoInitialized) CoUninitialize();
  m_fCoInitialized = false;
}

}  // namespace

extern "C" [[gnu::visibility("default")]] IHostAddin* HostAddinCreate() {
  static CPresenterAddin s_addin;
  return &s_addin;
}
