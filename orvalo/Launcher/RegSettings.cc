#include "orvalo/Launcher/RegSettings.h"

#include <cstring>

#include "platform/DebugOutput.h"
#include "platform/Registry.h"

tRegSetting g_RegSettings[kMaxRegSettings];
int g_nRegSettings = 0;

namespace {

// The next free entry with its name filled in, or null.
tRegSetting* NewSetting(LPCSTR szName, DWORD dwType) {
  if (g_nRegSettings >= kMaxRegSettings) {
    ORV_ASSERT(FALSE);
    return nullptr;
  }
  if (!ORV_ASSERT(std::strlen(szName) < sizeof(tRegSetting::name))) return nullptr;
  tRegSetting* s = &g_RegSettings[g_nRegSettings];
  *s = tRegSetting{};
  std::memcpy(s->name, szName, std::strlen(szName) + 1);
  s->type = dwType;
  return s;
}

}  // namespace

BOOL AddSzSetting(LPCSTR szName, LPCSTR szText) {
  const std::size_t n = std::strlen(szText);
  if (!ORV_ASSERT(n <= kMaxSettingTextChars)) return FALSE;
  tRegSetting* s = NewSetting(szName, REG_SZ);
  if (s == nullptr) return FALSE;
  std::memcpy(s->data, szText, n + 1);
  ++g_nRegSettings;
  return TRUE;
}

BOOL AddDwordSetting(LPCSTR szName, DWORD dwValue) {
  tRegSetting* s = NewSetting(szName, REG_DWORD);
  if (s == nullptr) return FALSE;
  std::memcpy(s->data, &dwValue, sizeof dwValue);
  ++g_nRegSettings;
  return TRUE;
}

DWORD SettingDataLength(const tRegSetting& s) {
  if (s.type == REG_DWORD) return sizeof(DWORD);
  return static_cast<DWORD>(strnlen(reinterpret_cast<const char*>(s.data), sizeof s.data));
}
