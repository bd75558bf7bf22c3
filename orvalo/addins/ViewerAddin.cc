// The viewer's macro add-in "orvaloView.ppa": on start-up it creates the
// audience control, hands it the application, receives the slide master
// (DoPelagoRcv) and joins the live stream (Init); the control then follows
// the presenter by itself. At shutdown it ends the control.
#include <string>

#include "com/Runtime.h"
#include "host/HostAddin.h"
#include "orvalo/addins/AddinSettings.h"
#include "orvalo/addins/LateBoundControl.h"
#include "orvalo/orvaloCom.h"

namespace {

using com::CComVariant;
using orvalo::Report;

constexpr char kAddin[] = "orvaloView";

class CViewerAddin final : public IHostAddin {
 public:
  void OnStartup(_Application* pApp) override;
  void OnSlideShowBegin(SlideShowWindow*) override {}
  void OnSlideShowNextSlide(SlideShowWindow*) override {}
  void OnSlideShowStep(SlideShowWindow*, LONG) override {}
  void OnSlideShowScreen(SlideShowWindow*, PpSlideShowState) override {}
  void OnSlideShowErase(SlideShowWindow*) override {}
  void OnSlideShowEnd(_Presentation*) override {}
  void OnShutdown() override;

 private:
  orvalo::CLateBoundControl m_Control{kAddin};
  bool m_fCoInitialized = false;
};

void CViewerAddin::OnStartup(_Application* pApp) {
  orvalo::tOrvaloSettings settings;
  std::string sError;
  if (orvalo::ReadOrvaloSettings(&settings, &sError) != ERROR_SUCCESS) {
    orvalo::ReportAddinError(kAddin, sError, Report::kLineAndBox);
    return;
  }
  m_fCoInitialized = SUCCEEDED(CoInitialize(nullptr));
  if (pApp == nullptr || FAILED(m_Control.Create(kOrvaloRcvViProgId)) ||
      FAILED(m_Control.Call("SetApp", {CComVariant(static_cast<IUnknown*>(pApp))},
                            Report::kLineAndBox)))
    return;
  // The master first, under its progress dialog (a message loop of its own).
  CComVariant abort;
  if (FAILED(m_Control.Call("DoPelagoRcv",
                            {CComVariant(settings.sMasterAddr),
                             CComVariant(static_cast<LONG>(settings.dwMasterPort))},
                            Report::kLineAndBox, &abort)))
    return;
  if (abort.vt == VT_I4 && abort.lVal != 0) {
    orvalo::ReportAddinError(kAddin, "the slide master was not received: cancelled",
                             Report::kLineOnly);
    return;
  }
  const LONG nMaxRate = settings.fHaveMaxRate ? static_cast<LONG>(settings.dwMaxRateKbps) : 0;
  m_Control.Call("Init",
                 {CComVariant(settings.sLiveAddr), CComVariant(static_cast<LONG>(settings.dwPort)),
                  CComVariant(static_cast<LONG>(settings.dwTTL)), CComVariant(nMaxRate),
                  CComVariant(""), CComVariant(""), CComVariant(""), CComVariant("")},
                 Report::kLineAndBox);
}

void CViewerAddin::OnShutdown() {
  if (m_Control.IsCreated()) {
    m_Control.Call("Terminate", {}, Report::kLineOnly);
    m_Control.Release();
  }
  if (m_fCoInitialized) CoUninitialize();
  m_fCoInitialized = false;
}

}  // namespace

extern "C" [[gnu::visibility("default")]] IHostAddin* HostAddinCreate() {
  static CViewerAddin s_viewer;
  return &s_viewer;
}
