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
// (VT_I4), 32-bit enumerations (VT_I4), ULONG (VT_UI4), BYTE (VT_UI1), short
// (VT_BOOL, a VARIANT_BOOL), float (VT_R4), double (VT_R8), BSTR (VT_BSTR,
// borrowed for the call), IUnknown* and IDispatch* (borrowed), a typed
// interface pointer Itf* (VT_UNKNOWN or VT_DISPATCH queried for Itf::kIID,
// held for the call; DISP_E_TYPEMISMATCH if it has no Itf), VARIANT
// (borrowed). Arguments are converted with VariantChangeType
// (DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW with *puArgErr set); VT_ERROR is
// never read as a value. Pointer parameters (LONG*, ULONG*, BYTE*, short*,
// enum*, float*, double*, BSTR*, IUnknown**, IDispatch**, Itf**, VARIANT*)
// are [out]: they take VT_BYREF arguments of their type (IUnknown* slots
// for objects) or VT_BYREF|VT_VARIANT, whose old value is cleared; a last
// pointer parameter with no argument for it is the [out, retval] and goes to
// pVarResult. A string or object the member hands out is never lost: when
// the member fails or nobody takes the retval, it is freed. Optional
// parameters: see DispMethod. Table entries must be made from the
// interface's own member functions (&Itf::F).
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

// A pointer to an interface other than IUnknown and IDispatch themselves.
template <class T>
constexpr bool IsTypedItf() {
  if constexpr (!std::is_pointer_v<T>) {
    return false;
  } else {
    using I = std::remove_pointer_t<T>;
    return std::is_class_v<I> && std::is_base_of_v<IUnknown, I> && !std::is_same_v<I, IUnknown> &&
           !std::is_same_v<I, IDispatch>;
  }
}

// A 32-bit enumeration, carried as VT_I4.
template <class T>
constexpr bool IsLongEnum() {
  if constexpr (std::is_enum_v<T>)
    return sizeof(T) == sizeof(LONG);
  else
    return false;
}

// The VARIANT type of an [in] parameter type (0: not one).
template <class T>
constexpr VARTYPE InVt() {
  if constexpr (std::is_same_v<T, LONG> || std::is_same_v<T, long>)
    return VT_I4;
  else if constexpr (IsLongEnum<T>())
    return VT_I4;
  else if constexpr (std::is_same_v<T, ULONG> || std::is_same_v<T, unsigned long>)
    return VT_UI4;
  else if constexpr (std::is_same_v<T, BYTE>)
    return VT_UI1;
  else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
    return VT_BOOL;
  else if constexpr (std::is_same_v<T, float>)
    return VT_R4;
  else if constexpr (std::is_same_v<T, double>)
    return VT_R8;
  else if constexpr (std::is_same_v<T, BSTR>)
    return VT_BSTR;
  else if constexpr (std::is_same_v<T, IUnknown*>)
    return VT_UNKNOWN;
  else if constexpr (std::is_same_v<T, IDispatch*>)
    return VT_DISPATCH;
  else if constexpr (IsTypedItf<T>()) {
    return std::is_base_of_v<IDispatch, std::remove_pointer_t<T>> ? VT_DISPATCH : VT_UNKNOWN;
  } else if constexpr (std::is_same_v<T, VARIANT>)
    return VT_VARIANT;
  else
    return 0;
}

// The VARIANT type an out (pointer) parameter points at (0: not one).
template <class P>
constexpr VARTYPE OutVt() {
  if constexpr (!std::is_pointer_v<P> || std::is_same_v<P, BSTR> || std::is_same_v<P, IUnknown*> ||
                std::is_same_v<P, IDispatch*> || IsTypedItf<P>())
    return 0;
  else if constexpr (std::is_same_v<P, long*> || std::is_same_v<P, unsigned long*>)
    return 0;
  else
    return InVt<std::remove_pointer_t<P>>();
}

// Whether a VARIANT is the mark of an argument left out.
inline bool IsMissing(const VARIANT* p) {
  if (p->vt == (VT_BYREF | VT_VARIANT) && p->pvarVal != nullptr) p = p->pvarVal;
  return p->vt == VT_ERROR && p->scode == DISP_E_PARAMNOTFOUND;
}

// Holds an [in] argument, converted, for the duration of the call.
template <class T>
struct InArg {
  CComVariant v;  // owns a converted BSTR or interface for the call
  T value{};

  HRESULT Load(VARIANT* pSrc) {
    if constexpr (InVt<T>() == VT_VARIANT) {
      VARIANT* p = pSrc->vt == (VT_BYREF | VT_VARIANT) ? pSrc->pvarVal : pSrc;
      if (p == nullptr) return DISP_E_TYPEMISMATCH;
      HRESULT hr = VariantCopy(&v, p);
      value = v;
      return hr;
    } else {
      VARIANT* p = pSrc->vt == (VT_BYREF | VT_VARIANT) ? pSrc->pvarVal : pSrc;
      // An error value is no number (nor text, nor object).
      if (p == nullptr || (p->vt & VT_TYPEMASK) == VT_ERROR) return DISP_E_TYPEMISMATCH;
      HRESULT hr = VariantChangeType(&v, pSrc, 0, InVt<T>());
      if (FAILED(hr)) return hr;
      if constexpr (IsTypedItf<T>()) {
        IUnknown* punk = v.vt == VT_DISPATCH ? v.pdispVal : v.punkVal;
        if (punk == nullptr) return S_OK;  // a null interface stays null
        void* pv = nullptr;
        hr = punk->QueryInterface(std::remove_pointer_t<T>::kIID, &pv);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        value = static_cast<T>(pv);
        VariantClear(&v);
        v.vt = VT_UNKNOWN;  // the queried reference, released with v
        v.punkVal = static_cast<IUnknown*>(value);
      } else if constexpr (std::is_same_v<T, BSTR>)
        value = v.bstrVal;
      else if constexpr (std::is_same_v<T, IUnknown*>)
        value = v.punkVal;
      else if constexpr (std::is_same_v<T, IDispatch*>)
        value = v.pdispVal;
      else if constexpr (InVt<T>() == VT_I4)
        value = static_cast<T>(v.lVal);
      else if constexpr (InVt<T>() == VT_UI4)
        value = static_cast<T>(v.ulVal);
      else if constexpr (InVt<T>() == VT_UI1)
        value = v.bVal;
      else if constexpr (InVt<T>() == VT_BOOL)
        value = v.boolVal;
      else if constexpr (InVt<T>() == VT_R4)
        value = v.fltVal;
      else
        value = v.dblVal;
      return S_OK;
    }
  }
  template <class D>
  void SetDefault(D d) {
    static_assert(std::is_same_v<T, VARIANT> || std::is_arithmetic_v<T> || std::is_enum_v<T>,
                  "defaults are numbers");
    if constexpr (std::is_same_v<T, VARIANT>) {
      v.vt = VT_ERROR;  // a left-out VARIANT reaches the member as such
      v.scode = DISP_E_PARAMNOTFOUND;
      value = v;
    } else {
      value = static_cast<T>(d);
    }
  }
  T Get() { return value; }
};

// A pointer argument: the caller's storage (by reference) or, for the
// [out, retval], local storage handed to pVarResult afterwards. The member
// writes into typed local storage first; Finish hands what it wrote on, so
// that nothing the member gave out is lost, whether it succeeded or not.
template <class P>
struct OutArg {
  using T = std::remove_pointer_t<P>;
  static constexpr VARTYPE kVt = OutVt<P>();
  P p = nullptr;
  T local{};                   // what the member writes (all types but VARIANT)
  VARIANT varLocal{};          // the retval of a VARIANT* parameter
  VARIANT* pTarget = nullptr;  // by reference through a VARIANT: written at Finish
  void* pDirect = nullptr;     // by reference of the exact type: written at Finish
  bool fRetval = false;

  HRESULT Load(VARIANT* pSrc) {
    if constexpr (kVt == VT_VARIANT) {
      p = pSrc->vt == (VT_BYREF | VT_VARIANT) ? pSrc->pvarVal : pSrc;
      return S_OK;
    } else {
      if (pSrc->vt == (VT_BYREF | kVt) && pSrc->byref != nullptr) {
        pDirect = pSrc->byref;
        local = *static_cast<T*>(pDirect);  // numbers may be in-out
      } else if (pSrc->vt == (VT_BYREF | VT_VARIANT) && pSrc->pvarVal != nullptr) {
        pTarget = pSrc->pvarVal;
        CComVariant in;
        if (SUCCEEDED(VariantChangeType(&in, pTarget, 0, kVt))) CopyIn(in);
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      p = &local;
      return S_OK;
    }
  }
  void LoadRetval() {
    fRetval = true;
    VariantInit(&varLocal);
    if constexpr (kVt == VT_VARIANT)
      p = &varLocal;
    else
      p = &local;
  }
  // Hands what the member wrote to its place: the caller's storage, or
  // *pResult for the retval when the call succeeded (else it is freed).
  void Finish(VARIANT* pResult, bool fSucceeded) {
    if (pDirect != nullptr) {
      *static_cast<T*>(pDirect) = local;
    } else if (pTarget != nullptr) {
      VariantClear(pTarget);  // an [out]: the old value goes
      Store(pTarget);
    } else if (fRetval) {
      VARIANT out;
      VariantInit(&out);
      if constexpr (kVt == VT_VARIANT)
        out = varLocal;
      else
        Store(&out);
      if (pResult != nullptr && fSucceeded)
        *pResult = out;
      else
        VariantClear(&out);
    }
  }
  P Get() { return p; }

 private:
  void CopyIn(const VARIANT& in) {
    if constexpr (kVt == VT_I4)
      local = static_cast<T>(in.lVal);
    else if constexpr (kVt == VT_UI4)
      local = static_cast<T>(in.ulVal);
    else if constexpr (kVt == VT_UI1)
      local = in.bVal;
    else if constexpr (kVt == VT_BOOL)
      local = in.boolVal;
    else if constexpr (kVt == VT_R4)
      local = in.fltVal;
    else if constexpr (kVt == VT_R8)
      local = in.dblVal;
  }
  void Store(VARIANT* pOut) {
    if constexpr (kVt != VT_VARIANT) {
      pOut->vt = kVt;
      if constexpr (kVt == VT_I4)
        pOut->lVal = static_cast<LONG>(local);
      else if constexpr (kVt == VT_UI4)
        pOut->ulVal = static_cast<ULONG>(local);
      else if constexpr (kVt == VT_UI1)
        pOut->bVal = local;
      else if constexpr (kVt == VT_BOOL)
        pOut->boolVal = local;
      else if constexpr (kVt == VT_R4)
        pOut->fltVal = local;
      else if constexpr (kVt == VT_R8)
        pOut->dblVal = local;
    }
  }
};

// An out parameter handing out an object or a string (IUnknown**,
// IDispatch**, Itf**, BSTR*): the member's new reference or string goes to
// the caller, or is released when nobody takes it.
template <class P>
struct OutObjArg {
  using T = std::remove_pointer_t<P>;
  static constexpr VARTYPE kVt = std::is_same_v<T, BSTR> ? VT_BSTR : InVt<T>();
  T local{};
  void* pDirect = nullptr;     // the caller's slot of type kVt
  IUnknown** ppUnk = nullptr;  // or an IUnknown* slot for an object
  VARIANT* pTarget = nullptr;  // or a VARIANT
  bool fRetval = false;

  HRESULT Load(VARIANT* pSrc) {
    if (pSrc->vt == (VT_BYREF | kVt) && pSrc->byref != nullptr) {
      pDirect = pSrc->byref;
    } else if (kVt != VT_BSTR && pSrc->vt == (VT_BYREF | VT_UNKNOWN) && pSrc->byref != nullptr) {
      ppUnk = pSrc->ppunkVal;
    } else if (pSrc->vt == (VT_BYREF | VT_VARIANT) && pSrc->pvarVal != nullptr) {
      pTarget = pSrc->pvarVal;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
  }
  void LoadRetval() { fRetval = true; }
  void Finish(VARIANT* pResult, bool fSucceeded) {
    VARIANT out;
    VariantInit(&out);
    out.vt = kVt;
    if constexpr (kVt == VT_BSTR)
      out.bstrVal = local;
    else if constexpr (kVt == VT_DISPATCH)
      out.pdispVal = static_cast<IDispatch*>(local);
    else
      out.punkVal = static_cast<IUnknown*>(local);
    if (pDirect != nullptr) {
      if constexpr (kVt == VT_BSTR)
        *static_cast<BSTR*>(pDirect) = out.bstrVal;
      else if constexpr (kVt == VT_DISPATCH)
        *static_cast<IDispatch**>(pDirect) = out.pdispVal;
      else
        *static_cast<IUnknown**>(pDirect) = out.punkVal;
    } else if (ppUnk != nullptr) {
      if constexpr (kVt == VT_DISPATCH)
        *ppUnk = out.pdispVal;
      else if constexpr (kVt == VT_UNKNOWN)
        *ppUnk = out.punkVal;
    } else if (pTarget != nullptr) {
      VariantClear(pTarget);  // an [out]: the old value goes
      *pTarget = out;
    } else if (fRetval && pResult != nullptr && fSucceeded) {
      *pResult = out;
    } else {
      VariantClear(&out);  // nobody takes it: nothing leaks
    }
  }
  P Get() { return &local; }
};

template <class A>
constexpr bool IsObjOut() {
  if constexpr (!std::is_pointer_v<A>)
    return false;
  else {
    using T = std::remove_pointer_t<A>;
    return std::is_same_v<T, BSTR> || std::is_same_v<T, IUnknown*> ||
           std::is_same_v<T, IDispatch*> || IsTypedItf<T>();
  }
}

template <class A>
constexpr bool IsOut() {
  return OutVt<A>() != 0 || IsObjOut<A>();
}

template <class A>
using ArgSlot = std::conditional_t<IsObjOut<A>(), OutObjArg<A>,
                                   std::conditional_t<(OutVt<A>() != 0), OutArg<A>, InArg<A>>>;

template <class... A>
constexpr bool LastIsOut() {
  if constexpr (sizeof...(A) == 0)
    return false;
  else
    return IsOut<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>();
}

template <auto... Defaults>
struct DefaultList {};

template <auto Fn, auto... Defaults, class... A, std::size_t... I>
HRESULT InvokeWith(DefaultList<Defaults...>, std::tuple<A...>*, void* pThis, DISPPARAMS* pParams,
                   VARIANT* pResult, UINT* puArgErr, bool* pfCalled, std::index_sequence<I...>) {
  using Class = typename MemberTraits<decltype(Fn)>::Class;
  constexpr std::size_t kArgs = sizeof...(A);
  constexpr bool kLastIsOut = LastIsOut<A...>();
  constexpr std::size_t kIn = kArgs - (kLastIsOut ? 1 : 0);
  constexpr std::size_t kOpt = sizeof...(Defaults);
  static_assert(kOpt <= kIn, "more defaults than in-parameters");
  const std::size_t cArgs = pParams->cArgs;
  // Trailing in-parameters with defaults may be left out; then the last out
  // parameter, if any, is the retval.
  const bool fCountOk = cArgs + kOpt >= kIn && cArgs <= kIn;
  const bool fRetval = kLastIsOut && fCountOk;
  if (!fCountOk && !(kLastIsOut && cArgs == kArgs)) return DISP_E_BADPARAMCOUNT;
  std::tuple<ArgSlot<A>...> slots;
  HRESULT hr = S_OK;
  auto load = [&]<std::size_t i>(auto& slot, std::integral_constant<std::size_t, i>) {
    if (FAILED(hr)) return;
    if constexpr (kLastIsOut && i == kArgs - 1) {
      if (fRetval) {
        slot.LoadRetval();
        return;
      }
    } else {
      if (i >= cArgs || IsMissing(&pParams->rgvarg[cArgs - 1 - i])) {
        if constexpr (i + kOpt >= kIn) {
          slot.SetDefault(std::get<i + kOpt - kIn>(std::make_tuple(Defaults...)));
        } else {
          hr = DISP_E_PARAMNOTOPTIONAL;
          if (i < cArgs && puArgErr != nullptr) *puArgErr = static_cast<UINT>(cArgs - 1 - i);
        }
        return;
      }
    }
    std::size_t at = cArgs - 1 - i;  // arguments come last one first
    hr = slot.Load(&pParams->rgvarg[at]);
    if (FAILED(hr) && puArgErr != nullptr) *puArgErr = static_cast<UINT>(at);
  };
  (load(std::get<I>(slots), std::integral_constant<std::size_t, I>{}), ...);
  (void)load;  // unused when there are no parameters
  if (FAILED(hr)) return hr;
  *pfCalled = true;
  if (pResult != nullptr) VariantInit(pResult);
  hr = (static_cast<Class*>(pThis)->*Fn)(std::get<I>(slots).Get()...);
  auto finish = [&](auto& slot) {
    if constexpr (requires { slot.Finish(pResult, true); }) slot.Finish(pResult, SUCCEEDED(hr));
  };
  (finish(std::get<I>(slots)), ...);
  (void)finish;
  return hr;
}

template <auto Fn, class Tuple, auto... Defaults>
struct Invoker;
template <auto Fn, class... A, auto... Defaults>
struct Invoker<Fn, std::tuple<A...>, Defaults...> {
  static HRESULT Call(void* pThis, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr,
                      bool* pfCalled) {
    static_assert(((InVt<A>() != 0 || IsOut<A>()) && ...),
                  "a parameter type late-bound calls cannot pass");
    return InvokeWith<Fn>(DefaultList<Defaults...>{}, static_cast<std::tuple<A...>*>(nullptr),
                          pThis, pParams, pResult, puArgErr, pfCalled,
                          std::index_sequence_for<A...>{});
  }
};

}  // namespace detail

// A table entry for member function `Fn` of a dual interface. `Defaults`
// are the values of its last in-parameters when a caller leaves them out
// (passes fewer arguments, or VT_ERROR with DISP_E_PARAMNOTFOUND):
//   com::DispMethod<&IDoc::Open, msoFalse, msoTrue>("Open", 4)
// A left-out VARIANT parameter with a default reaches the member as VT_ERROR
// DISP_E_PARAMNOTFOUND; a left-out parameter without one gives
// DISP_E_PARAMNOTOPTIONAL.
template <auto Fn, auto... Defaults>
constexpr DispMember DispMethod(const char* szName, DISPID dispid,
                                DispKind kind = DispKind::kMethod) {
  using Args = typename detail::MemberTraits<decltype(Fn)>::Args;
  return DispMember{szName, dispid, kind, &detail::Invoker<Fn, Args, Defaults...>::Call};
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
