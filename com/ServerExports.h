// The four exports of an in-process server module, with C linkage, as the
// runtime and the launcher look them up by name. A server defines them; this
// declaration makes them visible outside the module. Build a server with
// orvalo_com_server(<target>) (com/CMakeLists.txt), which hides the rest.
#pragma once

#include "com/Guid.h"
#include "com/HResult.h"

extern "C" {

// The class factory (or another interface) of class `rclsid`;
// CLASS_E_CLASSNOTAVAILABLE for a class the module does not serve.
[[gnu::visibility("default")]] HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
// S_OK when no object, no class factory and no server lock is alive, else S_FALSE.
[[gnu::visibility("default")]] HRESULT DllCanUnloadNow();
// Writes (removes) the module's classes, ProgIDs and type library keys.
[[gnu::visibility("default")]] HRESULT DllRegisterServer();
[[gnu::visibility("default")]] HRESULT DllUnregisterServer();

}  // extern "C"

using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();
