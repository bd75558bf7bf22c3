// One control of the add-in library driven as a macro drives it: created by
// ProgID through the component runtime and called late-bound through
// IDispatch (GetIDsOfNames, then Invoke). Whatever fails is reported as one
// line on standard error, prefixed with the add-in's name, and, where the
// user should see it, as a message box.
//
// Thread safety: none; the host's main thread makes every call.
#pragma once

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Variant.h"

namespace orvalo {

// How a failure reaches the user besides standard error.
enum class Report { kLineOnly, kLineAndBox };

// One line "<szAddin>: <sText>" on standard error, and with kLineAndBox a
// message box with the text (caption "orvalo").
void ReportAddinError(const char* szAddin, const std::string& sText, Report report);

class CLateBoundControl {
 public:
  explicit CLateBoundControl(const char* szAddin) : m_szAddin(szAddin) {}

  // Creates the control; a failure is reported (line and box).
  HRESULT Create(const char* szProgId);
  bool IsCreated() const { return static_cast<bool>(m_pDisp); }
  // Calls method szName with args in their natural order; *pResult (may be
  // null) gets the [out, retval]. A failure (of the call or of the method) is
  // reported as `report` says and returned.
  HRESULT Call(const char* szName, std::vector<com::CComVariant> args, Report report,
               VARIANT* pResult = nullptr);
  void Release() { m_pDisp.Release(); }

 private:
  const char* m_szAddin;
  std::string m_sProgId;
  com::CComPtr<IDispatch> m_pDisp;
};

}  // namespace orvalo
