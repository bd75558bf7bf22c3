#include "orvalo/addins/AddinSettings.h"

#include <algorithm>
#include <cstdint>

#include "platform/Registry.h"

namespace orvalo {
namespace {

std::string Where(const char* szName) {
  return std::string("HKEY_CURRENT_USER\\") + kOrvaloSettingsKey + " value \"" + szName + "\"";
}

LONG ReadText(const platform::RegKey& key, const char* szName, std::string* pValue,
              std::string* psError) {
  LONG err = key.QueryString(szName, pValue);
  if (err == ERROR_SUCCESS && pValue->empty()) err = ERROR_INVALID_DATA;
  if (err != ERROR_SUCCESS)
    *psError =
        Where(szName) + (err == ERROR_FILE_NOT_FOUND ? " is missing" : " is unreadable or empty");
  return err;
}

LONG ReadNumber(const platform::RegKey& key, const char* szName, DWORD* pValue,
                std::string* psError) {
  DWORD dwType = 0;
  BYTE data[64] = {};
  DWORD cb = sizeof data - 1;
  LONG err = RegQueryValueEx(key.get(), szName, nullptr, &dwType, data, &cb);
  if (err == ERROR_SUCCESS && dwType == REG_DWORD && cb == sizeof(DWORD)) {
    *pValue =
        DWORD{data[0]} | (DWORD{data[1]} << 8) | (DWORD{data[2]} << 16) | (DWORD{data[3]} << 24);
    return ERROR_SUCCESS;
  }
  if (err == ERROR_SUCCESS && dwType == REG_SZ && cb > 0) {
    std::uint64_t n = 0;
    DWORD i = 0;
    for (; i < cb && data[i] >= '0' && data[i] <= '9'; ++i)
      n = std::min<std::uint64_t>(n * 10 + (data[i] - '0'), UINT32_MAX);
    if (i > 0 && (i == cb || data[i] == '\0')) {
      *pValue = static_cast<DWORD>(n);
      return ERROR_SUCCESS;
    }
  }
  if (err == ERROR_SUCCESS) err = ERROR_INVALID_DATA;
  *psError = Where(szName) + (err == ERROR_FILE_NOT_FOUND ? " is missing" : " is no number");
  return err;
}

}  // namespace

LONG ReadOrvaloSettings(tOrvaloSettings* pSettings, std::string* psError) {
  platform::RegKey key;
  LONG err = key.Open(HKEY_CURRENT_USER, kOrvaloSettingsKey, KEY_READ);
  if (err != ERROR_SUCCESS) {
    *psError = std::string("no settings under HKEY_CURRENT_USER\\") + kOrvaloSettingsKey +
               " (start the show with the launcher)";
    return err;
  }
  if ((err = ReadText(key, "MasterIPAddress", &pSettings->sMasterAddr, psError)) != ERROR_SUCCESS ||
      (err = ReadNumber(key, "MasterPort", &pSettings->dwMasterPort, psError)) != ERROR_SUCCESS ||
      (err = ReadText(key, "IPAddress", &pSettings->sLiveAddr, psError)) != ERROR_SUCCESS ||
      (err = ReadNumber(key, "Port", &pSettings->dwPort, psError)) != ERROR_SUCCESS ||
      (err = ReadNumber(key, "TTL", &pSettings->dwTTL, psError)) != ERROR_SUCCESS)
    return err;
  std::string sIgnored;
  pSettings->fHaveMaxRate =
      ReadNumber(key, "MaxRate", &pSettings->dwMaxRateKbps, &sIgnored) == ERROR_SUCCESS;
  if (!pSettings->fHaveMaxRate) pSettings->dwMaxRateKbps = 0;
  return ERROR_SUCCESS;
}

LONG BytesPerSecond(const tOrvaloSettings& settings) {
  const std::uint64_t kbps = settings.fHaveMaxRate && settings.dwMaxRateKbps != 0
                                 ? settings.dwMaxRateKbps
                                 : kDefaultMaxRateKbps;
  return static_cast<LONG>(std::min<std::uint64_t>(kbps * 1000 / 8, INT32_MAX));
}

}  // namespace orvalo
