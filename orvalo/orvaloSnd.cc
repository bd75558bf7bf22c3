#include "orvalo/orvaloSnd.h"

#include <string>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/COA.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/orvaloCommand.h"
#include "orvalo/orvaloControl.h"
#include "platform/DebugOutput.h"
#include "ui/UiObserver.h"

using orvalo::Guarded;
using orvalo::TextOf;

HRESULT CorvaloSnd::Test() {
  // There is no container, so the control has no window to own the box.
  MessageBox(nullptr, "VuruvadEva::Test", "orvalo", MB_OK);
  return S_OK;
}

HRESULT CorvaloSnd::SetApp(IUnknown* pUnkApp) {
  if (!ORV_ASSERT(pUnkApp != NULL)) return E_FAIL;
  return Guarded("CorvaloSnd::SetApp", [&] { return orvalo::HandOverApplication(pUnkApp); });
}

HRESULT CorvaloSnd::Terminate() {
  return Guarded("CorvaloSnd::Terminate", [&] {
    m_Presenter.Disconnect();
    return S_OK;
  });
}

HRESULT CorvaloSnd::SetSlideShowWindow() {
  return Guarded("CorvaloSnd::SetSlideShowWindow",
                 [&] { return g_COA.SetSlideShowWindow() == COA_E_SUCCESS ? S_OK : E_FAIL; });
}

HRESULT CorvaloSnd::InstallTracker() {
  return Guarded("CorvaloSnd::InstallTracker", [&] {
    return g_COA.InstallTracker(&m_Presenter) == COA_E_SUCCESS ? S_OK : E_FAIL;
  });
}

HRESULT CorvaloSnd::Init() {
  return Guarded("CorvaloSnd::Init", [&] { return g_COA.Init() == COA_E_SUCCESS ? S_OK : E_FAIL; });
}

HRESULT CorvaloSnd::AddStream(BSTR bstrMasterAddr, LONG nMasterPort, BSTR bstrLiveAddr, LONG nPort,
                              LONG nTTL, LONG nBytesPerSec) {
  return Guarded("CorvaloSnd::AddStream", [&] {
    const std::string sMasterAddr = TextOf(bstrMasterAddr);
    const std::string sLiveAddr = TextOf(bstrLiveAddr);
    HWND hWnd = g_COA.GetPPHWND();
    if (!ORV_ASSERT(hWnd != NULL)) return E_FAIL;
    if (!g_PPTMsgComm.Init(hWnd, &m_Presenter)) return E_FAIL;
    return m_Presenter.AddStream(sMasterAddr.c_str(), nMasterPort, sLiveAddr.c_str(), nPort, nTTL,
                                 nBytesPerSec, 4)
               ? S_OK
               : E_FAIL;
  });
}

HRESULT CorvaloSnd::Command(BSTR bstrCommand) {
  return Guarded("CorvaloSnd::Command",
                 [&] { return orvalo::RunCommand(TextOf(bstrCommand), m_Presenter); });
}

void CorvaloSnd::OnDraw(ui::CSurface* pSurface, const RECT& rcBounds) {
  orvalo::DrawControl(pSurface, rcBounds, "ATL 3.0 : orvaloSnd");
}
