// Test helpers around Pelago.so as an in-process server: a private registry
// and calls of the module's own registration exports.
#pragma once

#include <cstdlib>
#include <string>

#include "com/Runtime.h"
#include "com/ServerExports.h"
#include "platform/Module.h"

namespace pelago_com_test {

// Points the registry at a file of its own.
inline void UseRegistry(const std::string& sPath) { setenv("ORVALO_REGISTRY", sPath.c_str(), 1); }

// Keeps Pelago.so loaded until the process ends. The platform layer's
// singletons inside the module (debug output, handle table) are never freed,
// so once the module is unmapped the leak checker would report them.
inline void KeepModuleLoaded() {
  static HMODULE hPinned = LoadLibrary(PELAGO_SO_PATH);
  (void)hPinned;
}

// Loads Pelago.so, calls export `szName` (DllRegisterServer or
// DllUnregisterServer) and unloads it, as the launcher registers a library.
inline HRESULT CallExport(const char* szName) {
  return com::CallServerExport(PELAGO_SO_PATH, szName);
}

}  // namespace pelago_com_test
