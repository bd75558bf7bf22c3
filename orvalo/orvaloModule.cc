// The in-process server exports of orvalo.so: the class factories of the
// controls "Orvalo.orvaloSnd" and "Orvalo.orvaloRcv" and the library's
// registration. The module needs no entry point of its own: the bridge and
// the automation object are constructed when it loads and destroyed when it
// unloads, which the runtime does only once no window of it lives.
#include <string>
#include <vector>

#include "com/Registration.h"
#include "com/ServerExports.h"
#include "com/ServerModule.h"
#include "orvalo/orvaloCom.h"
#include "orvalo/orvaloRcv.h"
#include "orvalo/orvaloSnd.h"

namespace {

// The registry script of one control; nBitmap is its toolbox bitmap.
com::CoClassRegistration ControlRegistration(const CLSID& clsid, const char* szName,
                                             const char* szProgId, const char* szViProgId,
                                             int nBitmap) {
  com::CoClassRegistration reg{};
  reg.clsid = clsid;
  reg.description = std::string(szName) + " Class";
  reg.progId = szProgId;
  reg.versionIndependentProgId = szViProgId;
  reg.threadingModel = "Apartment";
  reg.pLibId = &LIBID_ORVALOLib;
  reg.version = "1.0";
  reg.flagKeys = {"Programmable", "Control", "Insertable"};
  reg.extra = {{"ToolboxBitmap32", "", "%MODULE%, " + std::to_string(nBitmap)},
               {"MiscStatus", "", "0"},
               {"MiscStatus\\1", "", "131473"}};
  return reg;
}

std::vector<com::CoClassRegistration> Controls() {
  return {
      ControlRegistration(CLSID_orvaloRcv, "orvaloRcv", kOrvaloRcvProgId, kOrvaloRcvViProgId, 101),
      ControlRegistration(CLSID_orvaloSnd, "orvaloSnd", kOrvaloSndProgId, kOrvaloSndViProgId, 105)};
}

com::TypeLibRegistration TypeLib() {
  return com::TypeLibRegistration{
      LIBID_ORVALOLib,
      "1.0",
      "orvalo 1.0 Type Library",
      {{IorvaloSnd::kIID, "IorvaloSnd"}, {IorvaloRcv::kIID, "IorvaloRcv"}}};
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == CLSID_orvaloSnd) return com::GetClassObject<CorvaloSnd>(riid, ppv);
  if (rclsid == CLSID_orvaloRcv) return com::GetClassObject<CorvaloRcv>(riid, ppv);
  if (ppv != nullptr) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }

extern "C" HRESULT DllRegisterServer() {
  return com::RegisterServer(Controls(), TypeLib(), com::CurrentModulePath());
}

extern "C" HRESULT DllUnregisterServer() { return com::UnregisterServer(Controls(), TypeLib()); }
