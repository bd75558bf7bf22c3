#include "host/AddinHost.h"

#include "com/ComPtr.h"
#include "host/Objects.h"
#include "platform/Errors.h"

namespace host {

CAddinHost& CAddinHost::Instance() {
  static CAddinHost host;  // main thread only
  return host;
}

HRESULT CAddinHost::Load(const std::string& path) {
  if (IsLoaded(path)) return S_FALSE;
  HMODULE h = LoadLibrary(path.c_str());
  if (h == nullptr) {
    DWORD err = GetLastError();
    return HRESULT_FROM_WIN32(err != 0 ? err : ERROR_MOD_NOT_FOUND);
  }
  auto create = reinterpret_cast<PFN_HostAddinCreate>(GetProcAddress(h, "HostAddinCreate"));
  IHostAddin* pAddin = create != nullptr ? create() : nullptr;
  if (pAddin == nullptr) {
    FreeLibrary(h);
    return E_FAIL;
  }
  m_addins.push_back(Addin{path, h, pAddin});
  return S_OK;
}

void CAddinHost::Attach(IHostAddin* pAddin) {
  if (pAddin != nullptr) m_addins.push_back(Addin{"", nullptr, pAddin});
}

bool CAddinHost::IsLoaded(const std::string& path) const {
  for (const Addin& a : m_addins)
    if (!a.path.empty() && a.path == path) return true;
  return false;
}

void CAddinHost::FireStartup(_Application* pApp) {
  for (std::size_t i = 0; i < m_addins.size(); ++i) m_addins[i].pAddin->OnStartup(pApp);
}

template <class F>
void CAddinHost::ForEachWindow(const std::shared_ptr<CHostState>& state,
                               const std::shared_ptr<CShowDoc>& show, F f) {
  com::CComPtr<SlideShowWindow> wnd;
  if (FAILED(NewSlideShowWindow(state, show, wnd.Out()))) return;
  // By index: an add-in may not add or remove add-ins, but be safe if it does.
  for (std::size_t i = 0; i < m_addins.size(); ++i) f(m_addins[i].pAddin, wnd.get());
}

void CAddinHost::FireShowBegin(const std::shared_ptr<CHostState>& state,
                               const std::shared_ptr<CShowDoc>& show) {
  ForEachWindow(state, show, [](IHostAddin* a, SlideShowWindow* w) { a->OnSlideShowBegin(w); });
}

void CAddinHost::FireNextSlide(const std::shared_ptr<CHostState>& state,
                               const std::shared_ptr<CShowDoc>& show) {
  ForEachWindow(state, show, [](IHostAddin* a, SlideShowWindow* w) { a->OnSlideShowNextSlide(w); });
}

void CAddinHost::FireStep(const std::shared_ptr<CHostState>& state,
                          const std::shared_ptr<CShowDoc>& show, LONG nDirection) {
  ForEachWindow(state, show,
                [&](IHostAddin* a, SlideShowWindow* w) { a->OnSlideShowStep(w, nDirection); });
}

void CAddinHost::FireScreen(const std::shared_ptr<CHostState>& state,
                            const std::shared_ptr<CShowDoc>& show, PpSlideShowState newState) {
  ForEachWindow(state, show,
                [&](IHostAddin* a, SlideShowWindow* w) { a->OnSlideShowScreen(w, newState); });
}

void CAddinHost::FireErase(const std::shared_ptr<CHostState>& state,
                           const std::shared_ptr<CShowDoc>& show) {
  ForEachWindow(state, show, [](IHostAddin* a, SlideShowWindow* w) { a->OnSlideShowErase(w); });
}

void CAddinHost::FireEnd(const std::shared_ptr<CHostState>& state,
                         const std::shared_ptr<CPresDoc>& pres) {
  com::CComPtr<_Presentation> p;
  if (pres->fClosed || FAILED(NewPresentation(state, pres, p.Out()))) return;
  for (std::size_t i = 0; i < m_addins.size(); ++i) m_addins[i].pAddin->OnSlideShowEnd(p.get());
}

void CAddinHost::Shutdown() {
  std::vector<Addin> addins = std::move(m_addins);
  m_addins.clear();
  for (const Addin& a : addins) a.pAddin->OnShutdown();
  for (const Addin& a : addins)
    if (a.hModule != nullptr) FreeLibrary(a.hModule);
}

}  // namespace host
