#include "com/DispatchImpl.h"

#include <cstring>
#include <string>

namespace com {
namespace {

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool KindAccepts(DispKind kind, WORD wFlags) {
  switch (kind) {
    case DispKind::kMethod: return (wFlags & DISPATCH_METHOD) != 0;
    case DispKind::kPropertyGet: return (wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0;
    case DispKind::kPropertyPut: return (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  }
  return false;
}

}  // namespace

HRESULT DispGetIDsOfNames(std::span<const DispMember> table, REFIID riid, LPOLESTR* rgszNames,
                          UINT cNames, DISPID* rgDispId) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (rgszNames == nullptr || rgDispId == nullptr || rgszNames[0] == nullptr) return E_INVALIDARG;
  std::string name = Utf8FromUtf16(rgszNames[0]);
  rgDispId[0] = DISPID_UNKNOWN;
  for (const DispMember& m : table) {
    if (SameNameIgnoringCase(name, m.szName)) {
      rgDispId[0] = m.dispid;
      break;
    }
  }
  // Parameters have no names here.
  for (UINT i = 1; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return rgDispId[0] == DISPID_UNKNOWN || cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT DispInvoke(std::span<const DispMember> table, void* pThis, DISPID dispIdMember, REFIID riid,
                   WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                   EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (pDispParams == nullptr || (pDispParams->cArgs > 0 && pDispParams->rgvarg == nullptr))
    return E_INVALIDARG;
  const DispMember* pMember = nullptr;
  for (const DispMember& m : table) {
    if (m.dispid == dispIdMember && KindAccepts(m.kind, wFlags)) {
      pMember = &m;
      break;
    }
  }
  if (pMember == nullptr) return DISP_E_MEMBERNOTFOUND;
  // Only a property put names its argument (DISPID_PROPERTYPUT).
  const bool fPut = pMember->kind == DispKind::kPropertyPut;
  if (pDispParams->cNamedArgs > (fPut ? 1u : 0u)) return DISP_E_NONAMEDARGS;
  if (fPut && (pDispParams->cNamedArgs != 1 || pDispParams->rgdispidNamedArgs == nullptr ||
               pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
    return DISP_E_PARAMNOTOPTIONAL;
  bool fCalled = false;
  HRESULT hr = pMember->pfnInvoke(pThis, pDispParams, pVarResult, puArgErr, &fCalled);
  if (FAILED(hr) && fCalled && pExcepInfo != nullptr) {
    // The member itself failed: reported as an exception carrying its code.
    std::memset(pExcepInfo, 0, sizeof *pExcepInfo);
    pExcepInfo->scode = hr;
    return DISP_E_EXCEPTION;
  }
  return hr;
}

}  // namespace com
