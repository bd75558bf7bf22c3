// What the presenter and the audience control share: handing over the
// presentation application, converting strings, keeping every exception
// inside a method, and their picture.
#pragma once

#include <exception>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "com/Bstr.h"
#include "com/Unknown.h"
#include "ui/Surface.h"

namespace orvalo {

// Queries pUnkApp for the application's _Application interface and hands it
// to the automation object, which keeps its own reference. S_OK, or E_FAIL
// when the object is no application. REQUIRES: pUnkApp non-null.
HRESULT HandOverApplication(IUnknown* pUnkApp);

// The text of a BSTR (null: empty), up to its first NUL.
std::string TextOf(BSTR bstr);

// The body's result; an exception that escapes it becomes E_FAIL.
template <class F>
HRESULT Guarded(const char* szMethod, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    DebugTrace("%s: %s\n", szMethod, e.what());
  } catch (...) {
    DebugTrace("%s: unexpected error\n", szMethod);
  }
  return E_FAIL;
}

// The control's picture: a rectangle on its bounds and szText centred in it
// on one line.
void DrawControl(ui::CSurface* pSurface, const RECT& rcBounds, const char* szText);

}  // namespace orvalo
