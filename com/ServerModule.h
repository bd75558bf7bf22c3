// What an in-process server module is built from: the module's lock count,
// reference-counted objects over a list of interfaces, and class factories.
//
// The runtime library is linked into each module with its symbols hidden, so
// every module has its own lock count: DllCanUnloadNow is simply
// `return com::CanUnloadNow();`.
#pragma once

#include <atomic>
#include <new>
#include <string>
#include <type_traits>

#include "com/Dispatch.h"
#include "com/Unknown.h"

namespace com {

// Counts live objects, class factories and LockServer(TRUE) calls of this module.
void LockModule();
void UnlockModule();
long ModuleLockCount();
// S_OK when the lock count is 0, else S_FALSE.
HRESULT CanUnloadNow();

// The full path of the module this code is linked into (for InprocServer32).
std::string CurrentModulePath();

// Reference counting and QueryInterface for a class implementing `Itfs`
// (IUnknown, each of Itfs, and IDispatch for those derived from it). The
// count starts at 0 and the object deletes itself when it falls back to 0;
// while alive it holds a module lock. Thread-safe counting.
template <class First, class... Rest>
class CComObjectBase : public First, public Rest... {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
    } else if (!(Find<First>(riid, ppv) || (Find<Rest>(riid, ppv) || ...))) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return m_cRef.fetch_add(1) + 1; }
  ULONG Release() override {
    ULONG c = m_cRef.fetch_sub(1) - 1;
    if (c == 0) delete this;
    return c;
  }

 protected:
  CComObjectBase() { LockModule(); }
  virtual ~CComObjectBase() { UnlockModule(); }

 private:
  template <class Itf>
  bool Find(REFIID riid, void** ppv) {
    if (riid == Itf::kIID) {
      *ppv = static_cast<Itf*>(this);
      return true;
    }
    if constexpr (std::is_base_of_v<IDispatch, Itf>) {
      if (riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(static_cast<Itf*>(this));
        return true;
      }
    }
    return false;
  }

  std::atomic<ULONG> m_cRef{0};
};

// The class factory of T (default-constructible, derived from CComObjectBase).
template <class T>
class CClassFactory final : public CComObjectBase<IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    T* p = new (std::nothrow) T();
    if (p == nullptr) return E_OUTOFMEMORY;
    p->AddRef();
    HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
  }
  HRESULT LockServer(BOOL fLock) override {
    if (fLock) LockModule();
    else UnlockModule();
    return S_OK;
  }
};

// For DllGetClassObject: a new factory of T queried for `riid`.
template <class T>
HRESULT GetClassObject(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto* p = new (std::nothrow) CClassFactory<T>();
  if (p == nullptr) return E_OUTOFMEMORY;
  p->AddRef();
  HRESULT hr = p->QueryInterface(riid, ppv);
  p->Release();
  return hr;
}

}  // namespace com
