// VARIANT: the tagged value late-bound calls carry, and its helpers.
//
// Modelled types: VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR,
// VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_UI1, VT_UI4, VT_INT, VT_UINT,
// and VT_BYREF with any of them or VT_VARIANT. Arrays, records, dates and
// currency are left out (DISP_E_BADVARTYPE). A VARIANT owns its BSTR and its
// interface reference unless VT_BYREF is set.
#pragma once

#include <string_view>

#include "com/Bstr.h"
#include "com/HResult.h"

struct IUnknown;
struct IDispatch;

using VARTYPE = unsigned short;
// VARIANT_TRUE is -1; in a dual interface's parameter list a `short` is
// always a VARIANT_BOOL.
using VARIANT_BOOL = short;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;  // VT_I4
    BYTE bVal;  // VT_UI1
    SHORT iVal;  // VT_I2
    float fltVal;  // VT_R4
    double dblVal;  // VT_R8
    VARIANT_BOOL boolVal;  // VT_BOOL
    SCODE scode;  // VT_ERROR
    ULONG ulVal;  // VT_UI4
    INT intVal;  // VT_INT
    UINT uintVal;  // VT_UINT
    BSTR bstrVal;  // VT_BSTR
    IUnknown* punkVal;  // VT_UNKNOWN
    IDispatch* pdispVal;  // VT_DISPATCH
    LONG* plVal;  // VT_BYREF|VT_I4
    BYTE* pbVal;
    SHORT* piVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    ULONG* pulVal;
    INT* pintVal;
    UINT* puintVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;  // VT_BYREF|VT_VARIANT
    void* byref;
  };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;

void VariantInit(VARIANTARG* pvarg);
// Releases what the VARIANT owns and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANTARG* pvarg);
// Clears *pvargDest, then makes it a copy of *pvargSrc (a new BSTR, an added
// reference; a VT_BYREF copy points at the same place).
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Converts *pvarSrc (looking through VT_BYREF) to type `vt` into *pvargDest,
// which may be pvarSrc itself. Numbers convert among each other with range
// checks (DISP_E_OVERFLOW; reals round half to even), to and from text
// (DISP_E_TYPEMISMATCH when text is no number), and to and from VT_BOOL
// (true is -1, text "True"/"False"); VT_EMPTY becomes 0, "" or null;
// VT_UNKNOWN becomes VT_DISPATCH by QueryInterface; VT_NULL converts to nothing.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);

namespace com {

// An owned VARIANT, cleared on destruction; copies copy it (VariantCopy).
class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  CComVariant(const VARIANT& v) {  // NOLINT: implicit like the value it wraps
    VariantInit(this);
    VariantCopy(this, &v);
  }
  CComVariant(const CComVariant& v) : CComVariant(static_cast<const VARIANT&>(v)) {}
  CComVariant(CComVariant&& v) noexcept : VARIANT(v) { VariantInit(&v); }
  CComVariant& operator=(const CComVariant& v) {
    if (this != &v) VariantCopy(this, &v);
    return *this;
  }
  CComVariant& operator=(CComVariant&& v) noexcept {
    if (this != &v) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = v;
      VariantInit(&v);
    }
    return *this;
  }
  ~CComVariant() { VariantClear(this); }

  CComVariant(LONG l) : CComVariant() { vt = VT_I4, lVal = l; }
  // DWORD and unsigned: VT_UI4.
  CComVariant(ULONG ul) : CComVariant() { vt = VT_UI4, ulVal = ul; }
  // long and unsigned long are 64-bit here: VT_I4 or VT_UI4 when the value
  // fits, else VT_R8, so that no value changes on the way.
  CComVariant(long l);
  CComVariant(unsigned long ul);
  CComVariant(bool f) : CComVariant() { vt = VT_BOOL, boolVal = f ? VARIANT_TRUE : VARIANT_FALSE; }
  CComVariant(float f) : CComVariant() { vt = VT_R4, fltVal = f; }
  CComVariant(double d) : CComVariant() { vt = VT_R8, dblVal = d; }
  // Text as a new BSTR.
  CComVariant(std::string_view utf8) : CComVariant() { vt = VT_BSTR, bstrVal = BstrFromUtf8(utf8); }
  CComVariant(const char* utf8) : CComVariant(std::string_view(utf8)) {}
  // Interfaces gain a reference.
  CComVariant(IUnknown* p);
  CComVariant(IDispatch* p);

  // A VT_BYREF variant pointing at the caller's storage.
  static CComVariant ByRef(LONG* p) { return ByRef(VT_I4, p); }
  static CComVariant ByRef(VARIANT_BOOL* p) { return ByRef(VT_BOOL, p); }
  static CComVariant ByRef(BSTR* p) { return ByRef(VT_BSTR, p); }
  static CComVariant ByRef(VARIANT* p) { return ByRef(VT_VARIANT, p); }

  HRESULT ChangeType(VARTYPE vtNew) { return VariantChangeType(this, this, 0, vtNew); }
  // Hands the value to *pDest (cleared first) and becomes VT_EMPTY.
  void Detach(VARIANT* pDest) {
    VariantClear(pDest);
    *pDest = *this;
    VariantInit(this);
  }

 private:
  static CComVariant ByRef(VARTYPE type, void* p) {
    CComVariant v;
    v.vt = static_cast<VARTYPE>(VT_BYREF | type);
    v.byref = p;
    return v;
  }
};

}  // namespace com
