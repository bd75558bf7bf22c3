#include "orvalo/orvaloRcv.h"

#include <string>

#include "orvalo/COA.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/orvaloControl.h"
#include "platform/DebugOutput.h"

using orvalo::Guarded;
using orvalo::TextOf;

int CorvaloRcv::ReceiveMaster(BSTR bstrMasterAddr, LONG nPort, LONG* pfAbort) {
  const std::string sMasterAddr = TextOf(bstrMasterAddr);
  long fAbort = 0;
  const int nResult =
      m_Audience.DoPelagoRcv(sMasterAddr.c_str(), static_cast<WORD>(nPort), 0, &fAbort);
  *pfAbort = fAbort != 0 ? 1 : 0;
  return nResult;
}

HRESULT CorvaloRcv::Pelago(BSTR bstrMasterAddr, LONG nPort) {
  return Guarded("CorvaloRcv::Pelago", [&] {
    LONG fAbort = 0;
    if (ReceiveMaster(bstrMasterAddr, nPort, &fAbort) == -1) return E_FAIL;
    return fAbort != 0 ? S_FALSE : S_OK;
  });
}

HRESULT CorvaloRcv::DoPelagoRcv(BSTR bstrMasterAddr, LONG nPort, LONG* pfAbort) {
  if (!ORV_ASSERT(pfAbort != NULL)) return E_FAIL;
  *pfAbort = 0;
  return Guarded("CorvaloRcv::DoPelagoRcv", [&] {
    return ReceiveMaster(bstrMasterAddr, nPort, pfAbort) == -1 ? E_FAIL : S_OK;
  });
}

HRESULT CorvaloRcv::Init(BSTR Addr, LONG nPort, LONG nTTL, LONG MaxRate, BSTR Title,
                         BSTR Description, BSTR StartDate, BSTR StartTime) {
  return Guarded("CorvaloRcv::Init", [&] {
    const std::string sAddr = TextOf(Addr);
    const std::string sTitle = TextOf(Title);
    const std::string sDescription = TextOf(Description);
    const std::string sStartDate = TextOf(StartDate);
    const std::string sStartTime = TextOf(StartTime);
    HWND hWnd = g_COA.GetPPHWND();
    if (!ORV_ASSERT(hWnd != NULL)) return E_FAIL;
    if (!g_PPTMsgComm.Init(hWnd, &m_Audience)) return E_FAIL;
    return m_Audience.Init(sAddr.c_str(), static_cast<WORD>(nPort), nTTL, MaxRate, sTitle.c_str(),
                           sDescription.c_str(), sStartDate.c_str(), sStartTime.c_str())
               ? S_OK
               : E_FAIL;
  });
}

HRESULT CorvaloRcv::Terminate() {
  return Guarded("CorvaloRcv::Terminate", [&] {
    m_Audience.Disconnect();
    return S_OK;
  });
}

HRESULT CorvaloRcv::SetApp(IUnknown* pUnkApp) {
  if (!ORV_ASSERT(pUnkApp != NULL)) return E_FAIL;
  return Guarded("CorvaloRcv::SetApp", [&] { return orvalo::HandOverApplication(pUnkApp); });
}

void CorvaloRcv::OnDraw(ui::CSurface* pSurface, const RECT& rcBounds) {
  orvalo::DrawControl(pSurface, rcBounds, "ATL 3.0 : orvaloRcv");
}
