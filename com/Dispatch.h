// IDispatch: late-bound calls by member name or DISPID with VARIANT arguments,
// as a script or macro calls a dual interface.
//
// Arguments arrive in DISPPARAMS in reverse order: rgvarg[cArgs - 1] is the
// first. There is no binary type library on this platform, so GetTypeInfo
// gives no type information and callers bind by name through GetIDsOfNames.
#pragma once

#include "com/Unknown.h"
#include "com/Variant.h"

using DISPID = LONG;
using LCID = DWORD;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

struct DISPPARAMS {
  VARIANTARG* rgvarg;         // the arguments, last one first
  DISPID* rgdispidNamedArgs;  // DISPID_PROPERTYPUT for a property put
  UINT cArgs;
  UINT cNamedArgs;
};

// What a failed member reports through Invoke (with DISP_E_EXCEPTION).
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Type information is never handed out on this platform (see above).
struct ITypeInfo;

struct IDispatch : IUnknown {
  static constexpr IID kIID = com::MakeGuid("{00020400-0000-0000-C000-000000000046}");

  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  // rgszNames[0] is the member, the rest its parameters; names compare
  // without regard to case. Unknown names give DISP_E_UNKNOWNNAME and
  // DISPID_UNKNOWN in their slots.
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  // riid must be IID_NULL. A member that fails gives DISP_E_EXCEPTION with
  // its HRESULT in pExcepInfo->scode (or, with pExcepInfo null, its HRESULT).
  // *puArgErr receives the rgvarg index of an argument that does not convert.
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

inline constexpr const IID& IID_IDispatch = IDispatch::kIID;
