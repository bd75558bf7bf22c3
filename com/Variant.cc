#include "com/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "com/Dispatch.h"
#include "com/Unknown.h"

namespace {

bool IsModelled(VARTYPE vt) {
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_UI1: case VT_UI4:
    case VT_INT: case VT_UINT: return (vt & ~(VT_TYPEMASK | VT_BYREF)) == 0;
    case VT_VARIANT: return (vt & VT_BYREF) != 0 && (vt & ~(VT_TYPEMASK | VT_BYREF)) == 0;
    default: return false;
  }
}

// A value on its way from one type to another.
struct Value {
  enum Kind { kEmpty, kInteger, kReal, kBool, kText, kInterface } kind = kEmpty;
  long long n = 0;
  double d = 0;
  std::u16string text;
  IUnknown* punk = nullptr;  // borrowed
  bool fDispatch = false;
};

// Reads a VARIANT (through VT_BYREF) into a Value.
HRESULT Read(const VARIANT& v, Value* p) {
  const bool fRef = (v.vt & VT_BYREF) != 0;
  const VARTYPE t = v.vt & VT_TYPEMASK;
  if (fRef && v.byref == nullptr) return E_INVALIDARG;
  if (fRef && t == VT_VARIANT) return Read(*v.pvarVal, p);
  auto integer = [&](long long n) { p->kind = Value::kInteger, p->n = n; };
  switch (t) {
    case VT_EMPTY: p->kind = Value::kEmpty; return S_OK;
    case VT_I2: integer(fRef ? *v.piVal : v.iVal); return S_OK;
    case VT_I4: integer(fRef ? *v.plVal : v.lVal); return S_OK;
    case VT_UI1: integer(fRef ? *v.pbVal : v.bVal); return S_OK;
    case VT_UI4: integer(fRef ? *v.pulVal : v.ulVal); return S_OK;
    case VT_INT: integer(fRef ? *v.pintVal : v.intVal); return S_OK;
    case VT_UINT: integer(fRef ? *v.puintVal : v.uintVal); return S_OK;
    case VT_ERROR: integer(fRef ? *v.pscode : v.scode); return S_OK;
    case VT_R4: p->kind = Value::kReal, p->d = fRef ? *v.pfltVal : v.fltVal; return S_OK;
    case VT_R8: p->kind = Value::kReal, p->d = fRef ? *v.pdblVal : v.dblVal; return S_OK;
    case VT_BOOL: p->kind = Value::kBool, p->n = (fRef ? *v.pboolVal : v.boolVal) != 0; return S_OK;
    case VT_BSTR: {
      BSTR b = fRef ? *v.pbstrVal : v.bstrVal;
      p->kind = Value::kText;
      p->text.assign(b == nullptr ? u"" : b, SysStringLen(b));
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      p->kind = Value::kInterface;
      p->fDispatch = t == VT_DISPATCH;
      p->punk = t == VT_DISPATCH ? static_cast<IUnknown*>(fRef ? *v.ppdispVal : v.pdispVal)
                                 : (fRef ? *v.ppunkVal : v.punkVal);
      return S_OK;
    case VT_NULL: return DISP_E_TYPEMISMATCH;
    default: return DISP_E_BADVARTYPE;
  }
}

// Text to a number: an optional sign and decimal digits, or a real; blanks around allowed.
HRESULT ParseNumber(const std::u16string& text, Value* p) {
  std::string s = com::Utf8FromUtf16(text);
  std::size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  if (a == std::string::npos) return DISP_E_TYPEMISMATCH;
  s = s.substr(a, b - a + 1);
  for (const char* word : {"true", "false"}) {
    std::string lower;
    for (char c : s) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (lower == word) {
      p->kind = Value::kBool, p->n = word[0] == 't';
      return S_OK;
    }
  }
  const char* first = s.c_str() + (s[0] == '+' ? 1 : 0);
  const char* last = s.c_str() + s.size();
  long long n = 0;
  auto [pi, eci] = std::from_chars(first, last, n);
  if (eci == std::errc() && pi == last) {
    p->kind = Value::kInteger, p->n = n;
    return S_OK;
  }
  double d = 0;
  auto [pd, ecd] = std::from_chars(first, last, d);
  if (ecd == std::errc() && pd == last) {
    p->kind = Value::kReal, p->d = d;
    return S_OK;
  }
  return eci == std::errc::result_out_of_range ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

// The value as a whole number in [lo, hi].
HRESULT ToInteger(const Value& v, long long lo, long long hi, long long* pn) {
  Value t = v;
  if (t.kind == Value::kText) {
    HRESULT hr = ParseNumber(t.text, &t);
    if (FAILED(hr)) return hr;
  }
  long long n = 0;
  switch (t.kind) {
    case Value::kEmpty: n = 0; break;
    case Value::kInteger: n = t.n; break;
    case Value::kBool: n = t.n ? -1 : 0; break;
    case Value::kReal: {
      double r = std::nearbyint(t.d);  // the default rounding mode: half to even
      if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
      n = static_cast<long long>(r);
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  if (n < lo || n > hi) return DISP_E_OVERFLOW;
  *pn = n;
  return S_OK;
}

HRESULT ToReal(const Value& v, double* pd) {
  Value t = v;
  if (t.kind == Value::kText) {
    HRESULT hr = ParseNumber(t.text, &t);
    if (FAILED(hr)) return hr;
  }
  switch (t.kind) {
    case Value::kEmpty: *pd = 0; return S_OK;
    case Value::kInteger: *pd = static_cast<double>(t.n); return S_OK;
    case Value::kBool: *pd = t.n ? -1 : 0; return S_OK;
    case Value::kReal: *pd = t.d; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToText(const Value& v, std::u16string* pText) {
  char buf[64] = "";
  switch (v.kind) {
    case Value::kEmpty: pText->clear(); return S_OK;
    case Value::kText: *pText = v.text; return S_OK;
    case Value::kBool: *pText = v.n ? u"True" : u"False"; return S_OK;
    case Value::kInteger: *std::to_chars(buf, buf + sizeof buf - 1, v.n).ptr = '\0'; break;
    case Value::kReal: *std::to_chars(buf, buf + sizeof buf - 1, v.d).ptr = '\0'; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  *pText = com::Utf16FromUtf8(buf);
  return S_OK;
}

// Writes `v` as type `vt` into a cleared *pOut.
HRESULT Write(const Value& v, VARTYPE vt, VARIANT* pOut) {
  long long n = 0;
  double d = 0;
  HRESULT hr = S_OK;
  constexpr long long kI4Min = std::numeric_limits<LONG>::min(), kI4Max = std::numeric_limits<LONG>::max();
  switch (vt) {
    case VT_EMPTY: break;
    case VT_I2: hr = ToInteger(v, -32768, 32767, &n), pOut->iVal = static_cast<SHORT>(n); break;
    case VT_I4: hr = ToInteger(v, kI4Min, kI4Max, &n), pOut->lVal = static_cast<LONG>(n); break;
    case VT_INT: hr = ToInteger(v, kI4Min, kI4Max, &n), pOut->intVal = static_cast<INT>(n); break;
    case VT_ERROR: hr = ToInteger(v, kI4Min, kI4Max, &n), pOut->scode = static_cast<SCODE>(n); break;
    case VT_UI1: hr = ToInteger(v, 0, 255, &n), pOut->bVal = static_cast<BYTE>(n); break;
    case VT_UI4: hr = ToInteger(v, 0, 0xFFFFFFFFll, &n), pOut->ulVal = static_cast<ULONG>(n); break;
    case VT_UINT: hr = ToInteger(v, 0, 0xFFFFFFFFll, &n), pOut->uintVal = static_cast<UINT>(n); break;
    case VT_R8: hr = ToReal(v, &d), pOut->dblVal = d; break;
    case VT_R4:
      hr = ToReal(v, &d);
      if (SUCCEEDED(hr) && std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        hr = DISP_E_OVERFLOW;
      pOut->fltVal = static_cast<float>(d);
      break;
    case VT_BOOL: {
      Value t = v;
      if (t.kind == Value::kText) hr = ParseNumber(t.text, &t);
      if (SUCCEEDED(hr)) hr = ToReal(t, &d);
      pOut->boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      hr = ToText(v, &text);
      if (SUCCEEDED(hr)) {
        pOut->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (pOut->bstrVal == nullptr) hr = E_OUTOFMEMORY;
      }
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      void* p = nullptr;
      if (v.kind == Value::kInterface && v.punk != nullptr) {
        hr = v.punk->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
        if (FAILED(hr)) hr = DISP_E_TYPEMISMATCH;
      } else if (v.kind != Value::kEmpty && v.kind != Value::kInterface) {
        hr = DISP_E_TYPEMISMATCH;
      }
      pOut->byref = p;
      break;
    }
    default: return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  pOut->vt = vt;
  return S_OK;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->dblVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!IsModelled(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (pvarg->vt == VT_UNKNOWN && pvarg->punkVal != nullptr) {
    pvarg->punkVal->Release();
  } else if (pvarg->vt == VT_DISPATCH && pvarg->pdispVal != nullptr) {
    pvarg->pdispVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsModelled(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  VARIANT v = *pvargSrc;
  if (v.vt == VT_BSTR && v.bstrVal != nullptr) {
    v.bstrVal = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
    if (v.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if (v.vt == VT_UNKNOWN && v.punkVal != nullptr) {
    v.punkVal->AddRef();
  } else if (v.vt == VT_DISPATCH && v.pdispVal != nullptr) {
    v.pdispVal->AddRef();
  }
  *pvargDest = v;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if ((vt & VT_BYREF) != 0 || !IsModelled(vt) || vt == VT_NULL) return DISP_E_BADVARTYPE;
  Value value;
  HRESULT hr = Read(*pvarSrc, &value);
  if (FAILED(hr)) return hr;
  VARIANT out;
  VariantInit(&out);
  hr = Write(value, vt, &out);  // done before the source may be cleared
  if (FAILED(hr)) return hr;
  VariantClear(pvargDest);
  *pvargDest = out;
  return S_OK;
}

namespace com {

CComVariant::CComVariant(long l) : CComVariant() {
  if (l >= std::numeric_limits<LONG>::min() && l <= std::numeric_limits<LONG>::max()) {
    vt = VT_I4, lVal = static_cast<LONG>(l);
  } else {
    vt = VT_R8, dblVal = static_cast<double>(l);
  }
}

CComVariant::CComVariant(unsigned long ul) : CComVariant() {
  if (ul <= std::numeric_limits<ULONG>::max()) {
    vt = VT_UI4, ulVal = static_cast<ULONG>(ul);
  } else {
    vt = VT_R8, dblVal = static_cast<double>(ul);
  }
}

CComVariant::CComVariant(IUnknown* p) : CComVariant() {
  vt = VT_UNKNOWN;
  punkVal = p;
  if (p != nullptr) p->AddRef();
}

CComVariant::CComVariant(IDispatch* p) : CComVariant() {
  vt = VT_DISPATCH;
  pdispVal = p;
  if (p != nullptr) p->AddRef();
}

}  // namespace com
