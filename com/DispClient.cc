#include "com/DispClient.h"

#include <string>

namespace com {

HRESULT GetDispId(IDispatch* pDisp, std::string_view name, DISPID* pDispId) {
  if (pDisp == nullptr || pDispId == nullptr) return E_POINTER;
  std::u16string wide = Utf16FromUtf8(name);
  LPOLESTR names[] = {wide.data()};
  return pDisp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, pDispId);
}

HRESULT InvokeById(IDispatch* pDisp, DISPID dispid, WORD wFlags, std::span<CComVariant> args,
                   VARIANT* pResult) {
  if (pDisp == nullptr) return E_POINTER;
  // DISPPARAMS holds the arguments last one first; the VARIANTs are borrowed.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID putId = DISPID_PROPERTYPUT;
  const bool fPut = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  DISPPARAMS params{reversed.data(), fPut ? &putId : nullptr, static_cast<UINT>(reversed.size()),
                    fPut ? 1u : 0u};
  EXCEPINFO info{};
  UINT argErr = 0;
  if (pResult != nullptr) VariantClear(pResult);
  HRESULT hr = pDisp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pResult, &info,
                             &argErr);
  if (hr == DISP_E_EXCEPTION) {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (FAILED(info.scode)) hr = info.scode;
  }
  return hr;
}

HRESULT InvokeByName(IDispatch* pDisp, std::string_view name, WORD wFlags,
                     std::span<CComVariant> args, VARIANT* pResult) {
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = GetDispId(pDisp, name, &dispid);
  return FAILED(hr) ? hr : InvokeById(pDisp, dispid, wFlags, args, pResult);
}

}  // namespace com
