// Makers of the automation objects over the application's state (internal
// to host_app). Each hands out a new wrapper with one reference for the
// caller in *pp; E_POINTER for a null pp, E_OUTOFMEMORY.
#pragma once

#include <memory>
#include <new>

#include "host/HostState.h"

namespace host {

HRESULT NewPresentations(const std::shared_ptr<CHostState>& state, Presentations** pp);
HRESULT NewPresentation(const std::shared_ptr<CHostState>& state,
                        const std::shared_ptr<CPresDoc>& pres, _Presentation** pp);
HRESULT NewSlide(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CSlideDoc>& slide,
                 _Slide** pp);
HRESULT NewSlideShowWindows(const std::shared_ptr<CHostState>& state, SlideShowWindows** pp);
HRESULT NewSlideShowWindow(const std::shared_ptr<CHostState>& state,
                           const std::shared_ptr<CShowDoc>& show, SlideShowWindow** pp);
HRESULT NewSlideShowView(const std::shared_ptr<CHostState>& state,
                         const std::shared_ptr<CShowDoc>& show, SlideShowView** pp);

// Allocates T (constructed from args) and hands it out as Itf.
template <class T, class Itf, class... A>
HRESULT HandOut(Itf** pp, A&&... args) {
  if (pp == nullptr) return E_POINTER;
  *pp = nullptr;
  T* p = new (std::nothrow) T(std::forward<A>(args)...);
  if (p == nullptr) return E_OUTOFMEMORY;
  p->AddRef();
  *pp = p;
  return S_OK;
}

// Clears an out-parameter and checks it.
template <class T>
inline bool ClearOut(T* p) {
  if (p == nullptr) return false;
  *p = T{};
  return true;
}

std::string Utf8(BSTR b);
// A new BSTR for the caller in *pbstr.
HRESULT BstrOut(const std::string& text, BSTR* pbstr);

}  // namespace host
