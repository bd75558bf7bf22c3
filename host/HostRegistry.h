// The application's own registry keys: where it is installed, and the
// macro add-ins registered with it.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace host {

// HKEY_LOCAL_MACHINE keys of version 9.0; 8.0 is read when 9.0 has none.
inline constexpr const char* kInstallRootKey =
    "Software\\Microsoft\\Office\\9.0\\PowerPoint\\InstallRoot";
inline constexpr const char* kAddinsKey9 = "Software\\Microsoft\\Office\\9.0\\PowerPoint\\Addins";
inline constexpr const char* kAddinsKey8 = "Software\\Microsoft\\Office\\8.0\\PowerPoint\\Addins";

// Writes InstallRoot "Path" = folder, as an installer does. A registry error.
LONG WriteInstallRoot(const std::string& folder);

// The "Path" values of the subkeys of the 9.0 add-in key (of 8.0 when 9.0
// has no add-in key), in the registry's order; subkeys without one are
// skipped.
std::vector<std::string> RegisteredAddins();

}  // namespace host
