// The launcher's settings for the macro add-ins: the multicast groups, TTL
// and send rate it stores under HKEY_CURRENT_USER
// "Software\Microsoft\Office\Orvalo".
#pragma once

#include <string>

#include "platform/Win32Types.h"

namespace orvalo {

inline constexpr char kOrvaloSettingsKey[] = "Software\\Microsoft\\Office\\Orvalo";
// The presenter's send rate when the launcher was given none.
inline constexpr DWORD kDefaultMaxRateKbps = 1000;

struct tOrvaloSettings {
  std::string sMasterAddr;    // "MasterIPAddress": the slide master's group
  DWORD dwMasterPort = 0;     // "MasterPort"
  std::string sLiveAddr;      // "IPAddress": the live group
  DWORD dwPort = 0;           // "Port"
  DWORD dwTTL = 0;            // "TTL"
  bool fHaveMaxRate = false;  // whether "MaxRate" is stored
  DWORD dwMaxRateKbps = 0;    // "MaxRate", kilobits per second
};

// Reads the settings: numbers as REG_DWORD (or decimal text), addresses as
// text. ERROR_SUCCESS, or the registry's error with *psError saying which
// value is missing or unreadable (*pSettings is then incomplete).
LONG ReadOrvaloSettings(tOrvaloSettings* pSettings, std::string* psError);

// The presenter's bytes per second: MaxRate x 1000 / 8, with
// kDefaultMaxRateKbps when MaxRate is absent or 0; at most the largest LONG.
LONG BytesPerSecond(const tOrvaloSettings& settings);

}  // namespace orvalo
