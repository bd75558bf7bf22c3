#include "orvalo/orvaloControl.h"

#include "com/ComPtr.h"
#include "host/PowerPoint.h"
#include "orvalo/COA.h"

namespace orvalo {

HRESULT HandOverApplication(IUnknown* pUnkApp) {
  com::CComPtr<_Application> app;
  HRESULT hr = app.QueryFrom(pUnkApp);
  if (FAILED(hr)) {
    DebugTrace("SetApp: not the application (0x%08x)\n", static_cast<unsigned>(hr));
    return E_FAIL;
  }
  g_COA.SetApp(app.get());
  return S_OK;
}

std::string TextOf(BSTR bstr) {
  std::string text = com::Utf8FromBstr(bstr);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

void DrawControl(ui::CSurface* pSurface, const RECT& rcBounds, const char* szText) {
  if (pSurface == nullptr) return;
  pSurface->Rectangle(rcBounds);
  pSurface->DrawCenteredText(szText, rcBounds);
}

}  // namespace orvalo
