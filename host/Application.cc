// The application object: the root of the object model.
#include <span>

#include "com/DispatchImpl.h"
#include "host/AddinHost.h"
#include "host/HostApplication.h"
#include "host/Objects.h"

namespace host {
namespace {

class CApplication;
// The living application object: it goes with its last reference, and the
// next CreateApplication makes a fresh one.
CApplication* g_pApp = nullptr;  // main thread only

class CApplication final : public com::CDualObject<CApplication, _Application> {
 public:
  explicit CApplication(std::shared_ptr<CHostState> state) : m_state(std::move(state)) {}
  ~CApplication() override {
    if (g_pApp == this) g_pApp = nullptr;
  }
  static std::span<const com::DispMember> DispTable() {
    using A = _Application;
    using K = com::DispKind;
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&A::get_Presentations>("Presentations", 1, K::kPropertyGet),
        com::DispMethod<&A::get_ActivePresentation>("ActivePresentation", 2, K::kPropertyGet),
        com::DispMethod<&A::get_SlideShowWindows>("SlideShowWindows", 3, K::kPropertyGet),
        com::DispMethod<&A::get_Caption>("Caption", 4, K::kPropertyGet),
    };
    return kTable;
  }
  HRESULT get_Presentations(Presentations** pp) override { return NewPresentations(m_state, pp); }
  HRESULT get_ActivePresentation(_Presentation** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    auto active = m_state->Active();
    if (!active) return E_FAIL;
    return NewPresentation(m_state, active, pp);
  }
  HRESULT get_SlideShowWindows(SlideShowWindows** pp) override {
    return NewSlideShowWindows(m_state, pp);
  }
  HRESULT get_Caption(BSTR* pbstr) override {
    if (!ClearOut(pbstr)) return E_POINTER;
    return BstrOut(CHostState::kCaption, pbstr);
  }

 private:
  std::shared_ptr<CHostState> m_state;
};

}  // namespace

HRESULT CreateApplication(_Application** ppApp) {
  if (ppApp == nullptr) return E_POINTER;
  *ppApp = nullptr;
  if (g_pApp != nullptr) {
    g_pApp->AddRef();
    *ppApp = g_pApp;
    return S_OK;
  }
  // Objects handed out before may still hold the state (and frame) alive.
  auto state = CHostState::Current();
  if (!state) state = CHostState::Create();
  if (state->hFrame == nullptr) return E_FAIL;
  _Application* p = nullptr;
  HRESULT hr = HandOut<CApplication>(&p, state);
  if (FAILED(hr)) return hr;
  g_pApp = static_cast<CApplication*>(p);
  *ppApp = p;
  return S_OK;
}

HWND GetFrameWindow() {
  auto state = CHostState::Current();
  return state ? state->hFrame : nullptr;
}

}  // namespace host
