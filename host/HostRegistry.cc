#include "host/HostRegistry.h"

#include "platform/Registry.h"

namespace host {
namespace {

bool ReadAddins(const char* szKey, std::vector<std::string>* pPaths) {
  platform::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, szKey, KEY_READ) != ERROR_SUCCESS) return false;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    LONG rc = RegEnumKeyEx(key.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == static_cast<LONG>(ERROR_MORE_DATA))
      continue;  // a name too long for any add-in of ours
    if (rc != ERROR_SUCCESS) break;
    platform::RegKey sub;
    std::string path;
    if (sub.Open(key.get(), name, KEY_READ) == ERROR_SUCCESS &&
        sub.QueryString("Path", &path) == ERROR_SUCCESS && !path.empty())
      pPaths->push_back(path);
  }
  return true;
}

}  // namespace

LONG WriteInstallRoot(const std::string& folder) {
  platform::RegKey key;
  LONG rc = key.Create(HKEY_LOCAL_MACHINE, kInstallRootKey);
  if (rc != ERROR_SUCCESS) return rc;
  return key.SetString("Path", folder);
}

std::vector<std::string> RegisteredAddins() {
  std::vector<std::string> paths;
  if (!ReadAddins(kAddinsKey9, &paths)) ReadAddins(kAddinsKey8, &paths);
  return paths;
}

}  // namespace host
