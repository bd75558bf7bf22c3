// Implementing IDispatch for a dual interface from a table of its members, so
// that each member is callable both through its C++ virtual function and
// late-bound by name (any case) or DISPID, as a script or macro calls it.
//
//   struct IHello : IDispatch {
//     static constexpr IID kIID = com::MakeGuid("{...}");
//     virtual HRESULT Greet(BSTR bstrName, LONG nTimes, LONG* pnDone) = 0;
//   };
//   class CHello final : public com::CDualObject<CHello, IHello> {
//    public:
//     static std::span<const com::DispMember> DispTable() {
//       static constexpr com::DispMember kTable[] = {com::DispMethod<&IHello::Greet>("Greet", 1)};
//       return kTable;
//     }
//     HRESULT Greet(BSTR bstrName, LONG nTimes, LONG* pnDone) override;
//   };
//
// Parameter types and the VARIANT types they take: LONG/int (VT_I4), long
// (VT_I4), ULONG (VT_UI4), BYTE (VT_UI1), short (VT_BOOL, a VARIANT_BOOL),
// float (VT_R4), double (VT_R8), BSTR (VT_BSTR, borrowed for the call),
// IUnknown* and IDispatch* (borrowed), VARIANT (borrowed). Arguments are
// converted with VariantChangeType (DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW
// with *puArgErr set). Pointer parameters (LONG*, ULONG*, BYTE*, short*,
// float*, double*, BSTR*, IUnknown**, IDispatch**, VARIANT*) take VT_BYREF
// arguments of their type or VT_BYREF|VT_VARIANT; a last pointer parameter
// with no argument for it is the [out, retval] and goes to pVarResult. Table
// entries must be made from the interface's own member functions (&Itf::F).
#pragma once

#include <cstddef>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "com/Dispatch.h"
#include "com/ServerModule.h"
#include "com/Variant.h"

namespace com {

enum class DispKind : WORD {
  kMethod = DISPATCH_METHOD,
  kPropertyGet = DISPATCH_PROPERTYGET,
  kPropertyPut = DISPATCH_PROPERTYPUT,
};

// One member as a late-bound caller sees it. pfnInvoke takes the interface
// pointer the member function belongs to and arguments in DISPPARAMS order;
// it sets *pfCalled once the arguments converted and the member ran.
struct DispMember {
  const char* szName;
  DISPID dispid;
  DispKind kind;
  HRESULT (*pfnInvoke)(void* pThis, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr,
                       bool* pfCalled);
};

// IDispatch::GetIDsOfNames and Invoke over a table; `pThis` is the interface
// pointer the table's member functions belong to.
HRESULT DispGetIDsOfNames(std::span<const DispMember> table, REFIID riid, LPOLESTR* rgszNames,
                          UINT cNames, DISPID* rgDispId);
HRESULT DispInvoke(std::span<const DispMember> table, void* pThis, DISPID dispIdMember, REFIID riid,
                   WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                   EXCEPINFO* pExcepInfo, UINT* puArgErr);

namespace detail {

template <class F>
struct MemberTraits;
template <class C, class... A>
struct MemberTraits<HRESULT (C::*)(A...)> {
  using Class = C;
  using Args = std::tuple<A...>;
};

// The VARIANT type of an [in] parameter type (0: not one).
template <class T>
constexpr VARTYPE InVt() {
  if constexpr (std::is_same_v<T, LONG> || std::is_same_v<T, long>) return VT_I4;
  else if constexpr (std::is_same_v<T, ULONG> || std::is_same_v<T, unsigned long>) return VT_UI4;
  else if constexpr (std::is_same_v<T, BYTE>) return VT_UI1;
  else if constexpr (std::is_same_v<T, VARIANT_BOOL>) return VT_BOOL;
  else if constexpr (std::is_same_v<T, float>) return VT_R4;
  else if constexpr (std::is_same_v<T, double>) return VT_R8;
  else if constexpr (std::is_same_v<T, BSTR>) return VT_BSTR;
  else if constexpr (std::is_same_v<T, IUnknown*>) return VT_UNKNOWN;
  else if constexpr (std::is_same_v<T, IDispatch*>) return VT_DISPATCH;
  else if constexpr (std::is_same_v<T, VARIANT>) return VT_VARIANT;
  else return 0;
}

// The VARIANT type an out (pointer) parameter points at (0: not one).
template <class P>
constexpr VARTYPE OutVt() {
  if constexpr (!std::is_pointer_v<P> || std::is_same_v<P, BSTR> || std::is_same_v<P, IUnknown*> ||
                std::is_same_v<P, IDispatch*>)
    return 0;
  else if constexpr (std::is_same_v<P, long*> || std::is_same_v<P, unsigned long*>) return 0;
  else return InVt<std::remove_pointer_t<P>>();
}

// Holds an [in] argument, converted, for the duration of the call.
template <class T>
struct InArg {
  CComVariant v;
  HRESULT Load(VARIANT* pSrc) {
    if constexpr (InVt<T>() == VT_VARIANT) {
      VARIANT* p = pSrc->vt == (VT_BYREF | VT_VARIANT) ? pSrc->pvarVal : pSrc;
      if (p == nullptr) return DISP_E_TYPEMISMATCH;
      return VariantCopy(&v, p);
    } else {
      return VariantChangeType(&v, pSrc, 0, InVt<T>());
    }
  }
  T Get() {
    if constexpr (std::is_same_v<T, VARIANT>) return v;
    else if constexpr (std::is_same_v<T, BSTR>) return v.bstrVal;
    else if constexpr (std::is_same_v<T, IUnknown*>) return v.punkVal;
    else if constexpr (std::is_same_v<T, IDispatch*>) return v.pdispVal;
    else if constexpr (InVt<T>() == VT_I4) return static_cast<T>(v.lVal);
    else if constexpr (InVt<T>() == VT_UI4) return static_cast<T>(v.ulVal);
    else if constexpr (InVt<T>() == VT_UI1) return v.bVal;
    else if constexpr (InVt<T>() == VT_BOOL) return v.boolVal;
    else if constexpr (InVt<T>() == VT_R4) return v.fltVal;
    else return v.dblVal;
  }
};

// A pointer argument: the caller's storage (by reference) or, for the
// [out, retval], local storage handed to pVarResult afterwards.
template <class P>
struct OutArg {
  using T = std::remove_pointer_t<P>;
  static constexpr VARTYPE kVt = OutVt<P>();
  P p = nullptr;
  VARIANT local{};  // the retval, as a VARIANT of type kVt

  HRESULT Load(VARIANT* pSrc) {
    if constexpr (kVt == VT_VARIANT) {
      p = pSrc->vt == (VT_BYREF | VT_VARIANT) ? pSrc->pvarVal : pSrc;
      return S_OK;
    } else {
      if (pSrc->vt == (VT_BYREF | kVt)) {
        p = static_cast<P>(pSrc->byref);
        return S_OK;
      }
      if (pSrc->vt != (VT_BYREF | VT_VARIANT) || pSrc->pvarVal == nullptr) return DISP_E_TYPEMISMATCH;
      VARIANT* inner = pSrc->pvarVal;
      if (inner->vt != kVt) {
        HRESULT hr = VariantChangeType(inner, inner, 0, kVt);
        if (FAILED(hr)) return hr;
      }
      p = static_cast<P>(static_cast<void*>(&inner->lVal));
      return S_OK;
    }
  }
  void LoadRetval() {
    VariantInit(&local);
    if constexpr (kVt == VT_VARIANT) p = &local;
    else p = static_cast<P>(static_cast<void*>(&local.lVal));
  }
  // Hands the retval to *pResult (or frees it when there is none).
  void StoreRetval(VARIANT* pResult) {
    if constexpr (kVt != VT_VARIANT) local.vt = kVt;
    if (pResult != nullptr) {
      *pResult = local;  // pResult is the caller's empty (or uninitialised) slot
    } else {
      VariantClear(&local);
    }
  }
  P Get() { return p; }
};

template <class A>
using ArgSlot = std::conditional_t<(OutVt<A>() != 0), OutArg<A>, InArg<A>>;

template <class... A>
constexpr bool LastIsOut() {
  if constexpr (sizeof...(A) == 0) return false;
  else return OutVt<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>() != 0;
}

template <auto Fn, class... A, std::size_t... I>
HRESULT InvokeWith(void* pThis, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr,
                   bool* pfCalled, std::index_sequence<I...>) {
  using Class = typename MemberTraits<decltype(Fn)>::Class;
  constexpr std::size_t kArgs = sizeof...(A);
  constexpr bool kLastIsOut = LastIsOut<A...>();
  const std::size_t cArgs = pParams->cArgs;
  const bool fRetval = kLastIsOut && cArgs + 1 == kArgs;
  if (cArgs != kArgs && !fRetval) return DISP_E_BADPARAMCOUNT;
  std::tuple<ArgSlot<A>...> slots;
  HRESULT hr = S_OK;
  auto load = [&](auto& slot, std::size_t i) {
    if (FAILED(hr)) return;
    if (i == cArgs) {  // only the retval lies past the arguments
      if constexpr (requires { slot.LoadRetval(); }) slot.LoadRetval();
      return;
    }
    std::size_t at = cArgs - 1 - i;  // arguments come last one first
    hr = slot.Load(&pParams->rgvarg[at]);
    if (FAILED(hr) && puArgErr != nullptr) *puArgErr = static_cast<UINT>(at);
  };
  (load(std::get<I>(slots), I), ...);
  (void)load;  // unused when there are no parameters
  if (FAILED(hr)) return hr;
  *pfCalled = true;
  hr = (static_cast<Class*>(pThis)->*Fn)(std::get<I>(slots).Get()...);
  if constexpr (kLastIsOut) {
    if (fRetval && SUCCEEDED(hr)) {
      std::get<kArgs - 1>(slots).StoreRetval(pResult);
      return hr;
    }
  }
  if (pResult != nullptr) VariantInit(pResult);
  return hr;
}

template <auto Fn, class Tuple>
struct Invoker;
template <auto Fn, class... A>
struct Invoker<Fn, std::tuple<A...>> {
  static HRESULT Call(void* pThis, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr,
                      bool* pfCalled) {
    static_assert(((InVt<A>() != 0 || OutVt<A>() != 0) && ...),
                  "a parameter type late-bound calls cannot pass");
    return InvokeWith<Fn, A...>(pThis, pParams, pResult, puArgErr, pfCalled,
                               std::index_sequence_for<A...>{});
  }
};

}  // namespace detail

// A table entry for member function `Fn` of a dual interface.
template <auto Fn>
constexpr DispMember DispMethod(const char* szName, DISPID dispid,
                                DispKind kind = DispKind::kMethod) {
  using Args = typename detail::MemberTraits<decltype(Fn)>::Args;
  return DispMember{szName, dispid, kind, &detail::Invoker<Fn, Args>::Call};
}

// An object implementing dual interface Itf (and any `More` interfaces):
// reference counting and QueryInterface from CComObjectBase, IDispatch from
// Derived::DispTable(), a static function returning the member table of Itf.
template <class Derived, class Itf, class... More>
class CDualObject : public CComObjectBase<Itf, More...> {
 public:
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;  // no type library on this platform
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override {
    return DispGetIDsOfNames(Derived::DispTable(), riid, rgszNames, cNames, rgDispId);
  }
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return DispInvoke(Derived::DispTable(), static_cast<Itf*>(this), dispIdMember, riid, wFlags,
                      pDispParams, pVarResult, pExcepInfo, puArgErr);
  }
};

}  // namespace com
