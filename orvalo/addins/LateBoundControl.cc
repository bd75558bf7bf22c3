#include "orvalo/addins/LateBoundControl.h"

#include <cstdio>

#include "com/DispClient.h"
#include "com/Runtime.h"
#include "ui/UiObserver.h"

namespace orvalo {
namespace {

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace

void ReportAddinError(const char* szAddin, const std::string& sText, Report report) {
  std::fprintf(stderr, "%s: %s\n", szAddin, sText.c_str());
  std::fflush(stderr);
  if (report == Report::kLineAndBox) {
    MessageBox(nullptr, sText.c_str(), "orvalo", MB_OK | MB_ICONERROR);
  }
}

HRESULT CLateBoundControl::Create(const char* szProgId) {
  m_sProgId = szProgId;
  HRESULT hr = m_pDisp.CoCreateInstance(std::string_view(szProgId));
  if (FAILED(hr)) {
    const bool fUnregistered =
        hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND;
    ReportAddinError(m_szAddin,
                     "cannot create the control " + m_sProgId + " (" + Hex(hr) + ")" +
                         (fUnregistered ? ": orvalo.so is not registered; start the show with "
                                          "the launcher"
                                        : ""),
                     Report::kLineAndBox);
  }
  return hr;
}

HRESULT CLateBoundControl::Call(const char* szName, std::vector<com::CComVariant> args,
                                Report report, VARIANT* pResult) {
  if (!m_pDisp) return E_POINTER;
  HRESULT hr = com::CallMethod(m_pDisp.get(), szName, std::move(args), pResult);
  if (FAILED(hr)) {
    ReportAddinError(m_szAddin, m_sProgId + "." + szName + " failed (" + Hex(hr) + ")", report);
  }
  return hr;
}

}  // namespace orvalo
