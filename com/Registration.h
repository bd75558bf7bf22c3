// Writing and removing a server's registry keys: its classes, their ProgIDs
// and the keys of its type library, as DllRegisterServer and
// DllUnregisterServer do.
//
// For a class (all under HKEY_CLASSES_ROOT):
//   <ProgID> = description, with CLSID = {clsid}
//   <VersionIndependentProgID> = description, with CLSID and CurVer = <ProgID>
//   CLSID\{clsid} = description, with ProgID, VersionIndependentProgID,
//     InprocServer32 = module path (value ThreadingModel), TypeLib = {libid},
//     Version, each flag key (e.g. "Programmable", "Control") and each extra entry.
// For a type library: TypeLib\{libid}\<version> = help string, with
// 0\win32 = module path, FLAGS = "0", HELPDIR = the module's folder; and for
// each interface Interface\{iid} = name, with TypeLib = {libid} (value Version).
// There is no binary type library on this platform: the keys name the module.
#pragma once

#include <string>
#include <vector>

#include "com/Guid.h"
#include "com/HResult.h"

namespace com {

// One more value below CLSID\{clsid}: `subKey` (may be empty) and value
// `valueName` (empty: default) with text `value`, in which "%MODULE%" stands
// for the module path.
struct RegEntry {
  std::string subKey;
  std::string valueName;
  std::string value;
};

struct CoClassRegistration {
  CLSID clsid;
  std::string description;                // "orvaloSnd Class"
  std::string progId;                     // "Orvalo.orvaloSnd.1"; empty: none
  std::string versionIndependentProgId;   // "Orvalo.orvaloSnd"; empty: none
  std::string threadingModel = "Apartment";
  const GUID* pLibId = nullptr;           // its type library, if any
  std::string version;                    // "1.0"; empty: no Version key
  std::vector<std::string> flagKeys;      // empty subkeys
  std::vector<RegEntry> extra;
};

struct TypeLibRegistration {
  GUID libid;
  std::string version = "1.0";
  std::string helpString;
  struct Interface {
    IID iid;
    std::string name;
  };
  std::vector<Interface> interfaces;
};

// Each returns S_OK or HRESULT_FROM_WIN32 of the failing registry call.
// Registering again overwrites; unregistering removes what registering wrote
// (a ProgID only while it still names this class) and ignores missing keys.
HRESULT RegisterCoClass(const CoClassRegistration& reg, const std::string& modulePath);
HRESULT UnregisterCoClass(const CoClassRegistration& reg);
HRESULT RegisterTypeLib(const TypeLibRegistration& reg, const std::string& modulePath);
HRESULT UnregisterTypeLib(const TypeLibRegistration& reg);

// A whole server: its classes, then its type library. Registering stops at
// the first failure; unregistering removes as much as it can and returns the
// first failure.
HRESULT RegisterServer(const std::vector<CoClassRegistration>& classes,
                       const TypeLibRegistration& typeLib, const std::string& modulePath);
HRESULT UnregisterServer(const std::vector<CoClassRegistration>& classes,
                         const TypeLibRegistration& typeLib);

}  // namespace com
