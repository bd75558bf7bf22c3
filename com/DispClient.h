// Calling an object late-bound, as a script or macro does: by member name or
// DISPID with arguments in their natural order.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "com/Dispatch.h"
#include "com/Variant.h"

namespace com {

// The DISPID of a member name: DISP_E_UNKNOWNNAME if there is none.
HRESULT GetDispId(IDispatch* pDisp, std::string_view name, DISPID* pDispId);

// Invokes a member with `args` in natural order (the first argument first);
// by-reference arguments are CComVariant::ByRef. A failure of the member
// itself (DISP_E_EXCEPTION) is returned as the member's own HRESULT.
// *pResult (may be null; else an initialised VARIANT, cleared first) receives
// the result or the [out, retval].
HRESULT InvokeById(IDispatch* pDisp, DISPID dispid, WORD wFlags, std::span<CComVariant> args,
                   VARIANT* pResult = nullptr);
HRESULT InvokeByName(IDispatch* pDisp, std::string_view name, WORD wFlags,
                     std::span<CComVariant> args, VARIANT* pResult = nullptr);

// A method call by name: CallMethod(p, "AddStream", {CComVariant("224.1.1.1"), CComVariant(5000)}).
inline HRESULT CallMethod(IDispatch* pDisp, std::string_view name,
                          std::vector<CComVariant> args = {}, VARIANT* pResult = nullptr) {
  return InvokeByName(pDisp, name, DISPATCH_METHOD, args, pResult);
}

}  // namespace com
