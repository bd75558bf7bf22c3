// The in-process server exports of Pelago.so: the class factories of
// "Pelago.PelagoSnd" and "Pelago.PelagoRcv" and the library's registration.
#include <string>
#include <vector>

#include "Pelago/PelagoCom.h"
#include "Pelago/PelagoRcvObj.h"
#include "Pelago/PelagoSndObj.h"
#include "com/Registration.h"
#include "com/ServerExports.h"
#include "com/ServerModule.h"

namespace {

com::CoClassRegistration ClassRegistration(const CLSID& clsid, const char* szName,
                                           const char* szProgId, const char* szViProgId) {
  com::CoClassRegistration reg{};
  reg.clsid = clsid;
  reg.description = std::string(szName) + " Class";
  reg.progId = szProgId;
  reg.versionIndependentProgId = szViProgId;
  reg.threadingModel = "Apartment";
  reg.pLibId = &LIBID_PelagoLib;
  reg.version = "1.0";
  reg.flagKeys = {"Programmable"};
  return reg;
}

std::vector<com::CoClassRegistration> Classes() {
  return {ClassRegistration(CLSID_PelagoSnd, "PelagoSnd", kPelagoSndProgId, kPelagoSndViProgId),
          ClassRegistration(CLSID_PelagoRcv, "PelagoRcv", kPelagoRcvProgId, kPelagoRcvViProgId)};
}

com::TypeLibRegistration TypeLib() {
  return com::TypeLibRegistration{LIBID_PelagoLib,
                                  "1.0",
                                  "Pelago 1.0 Type Library",
                                  {{IPelagoSnd::kIID, "IPelagoSnd"},
                                   {IPelagoRcv::kIID, "IPelagoRcv"},
                                   {_IPelagoSndEvents::kIID, "_IPelagoSndEvents"},
                                   {_IPelagoRcvEvents::kIID, "_IPelagoRcvEvents"}}};
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == CLSID_PelagoSnd) return com::GetClassObject<CPelagoSndObj>(riid, ppv);
  if (rclsid == CLSID_PelagoRcv) return com::GetClassObject<CPelagoRcvObj>(riid, ppv);
  if (ppv != nullptr) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }

extern "C" HRESULT DllRegisterServer() {
  return com::RegisterServer(Classes(), TypeLib(), com::CurrentModulePath());
}

extern "C" HRESULT DllUnregisterServer() { return com::UnregisterServer(Classes(), TypeLib()); }
