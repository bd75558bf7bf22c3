// A smart interface pointer: holds one reference and releases it.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

#include "com/Runtime.h"
#include "com/Unknown.h"

namespace com {

// T is an interface with a static kIID. Copies add a reference.
template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(std::nullptr_t) {}
  // Adds a reference to `p`.
  explicit CComPtr(T* p) : m_p(p) {
    if (m_p != nullptr) m_p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
  CComPtr(CComPtr&& other) noexcept : m_p(other.Detach()) {}
  CComPtr& operator=(const CComPtr& other) {
    if (other.m_p != nullptr) other.m_p->AddRef();
    Attach(other.m_p);
    return *this;
  }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  ~CComPtr() { Release(); }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  // Releases the reference held and takes over `p`'s reference.
  void Attach(T* p) {
    T* old = m_p;
    m_p = p;
    if (old != nullptr) old->Release();
  }
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Release() { Attach(nullptr); }

  // For out arguments: releases what is held and gives the slot.
  T** Out() {
    Release();
    return &m_p;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  // Queries `p` for T.
  template <class U>
  HRESULT QueryFrom(U* p) {
    Release();
    if (p == nullptr) return E_POINTER;
    return p->QueryInterface(T::kIID, OutVoid());
  }
  // Queries the held object for another interface.
  template <class U>
  HRESULT QueryInterface(CComPtr<U>* pOut) const {
    if (m_p == nullptr) return E_POINTER;
    return pOut->QueryFrom(m_p);
  }

  HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter = nullptr,
                           DWORD dwClsContext = CLSCTX_INPROC_SERVER) {
    Release();
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, T::kIID, OutVoid());
  }
  HRESULT CoCreateInstance(std::string_view progId, IUnknown* pUnkOuter = nullptr,
                           DWORD dwClsContext = CLSCTX_INPROC_SERVER) {
    Release();
    CLSID clsid{};
    HRESULT hr = ClsidFromProgId(progId, &clsid);
    return FAILED(hr) ? hr : CoCreateInstance(clsid, pUnkOuter, dwClsContext);
  }

 private:
  T* m_p = nullptr;
};

}  // namespace com
