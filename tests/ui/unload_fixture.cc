// A server module whose window, dialog and timer procedures live in it, for
// the tests of unloading a module while the window layer still points into
// it. One trivial class makes the runtime load it; the exports make the
// window-layer objects on the calling thread.
#include <new>

#include "com/ServerExports.h"
#include "com/ServerModule.h"
#include "tests/ui/UnloadFixture.h"
#include "ui/Dialog.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

class CFixtureObject final : public com::CComObjectBase<IUnknown> {};

LRESULT FixtureWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

LONG_PTR FixtureDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void FixtureTimerProc(HWND, UINT, UINT_PTR, DWORD) {}

}  // namespace

extern "C" {

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == CLSID_UiUnloadFixture) return com::GetClassObject<CFixtureObject>(riid, ppv);
  if (ppv != nullptr) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }
HRESULT DllRegisterServer() { return E_NOTIMPL; }
HRESULT DllUnregisterServer() { return E_NOTIMPL; }

[[gnu::visibility("default")]] HWND FixtureCreateWindow() {
  WNDCLASS wc{};
  wc.lpfnWndProc = FixtureWndProc;
  wc.lpszClassName = kUiUnloadFixtureClass;
  RegisterClass(&wc);  // fails harmlessly when it is registered already
  return CreateWindowEx(0, kUiUnloadFixtureClass, "fixture", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                        nullptr, nullptr, nullptr);
}

[[gnu::visibility("default")]] HWND FixtureCreateDialog() {
  static const ui::tDialogTemplate kTemplate = {"Fixture",       40, 20, WS_POPUP,
                                                "MS Sans Serif", 8,  {}};
  return CreateDialogIndirectParam(nullptr, &kTemplate, nullptr, FixtureDlgProc, 0);
}

[[gnu::visibility("default")]] UINT_PTR FixtureSetTimer() {
  return SetTimer(nullptr, 0, 60000, FixtureTimerProc);
}

}  // extern "C"
