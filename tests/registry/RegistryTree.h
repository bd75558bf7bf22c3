// Test helper: a registry tree as one map, to compare what registration
// writes and what its removal leaves behind.
#pragma once

#include <map>
#include <string>

#include "platform/Registry.h"

namespace regtest {

// Adds every key below `path` of hRoot with its values, one entry each:
// "key" (with "") for a key, "key|value" (with the data as stored) for a value.
inline void CollectTree(HKEY hRoot, const std::string& path,
                        std::map<std::string, std::string>* pOut) {
  platform::RegKey key;
  if (key.Open(hRoot, path, KEY_READ) != ERROR_SUCCESS) return;
  (*pOut)[path] = "";
  for (DWORD i = 0;; ++i) {
    char name[kMaxRegKeyNameChars + 1];
    DWORD cch = sizeof name;
    BYTE data[1024];
    DWORD cb = sizeof data;
    if (RegEnumValue(key.get(), i, name, &cch, nullptr, nullptr, data, &cb) != ERROR_SUCCESS) break;
    (*pOut)[path + "|" + name] = std::string(reinterpret_cast<char*>(data), cb);
  }
  for (DWORD i = 0;; ++i) {
    char name[kMaxRegKeyNameChars + 1];
    DWORD cch = sizeof name;
    if (RegEnumKeyEx(key.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    CollectTree(hRoot, path.empty() ? name : path + "\\" + name, pOut);
  }
}

// The whole tree of hRoot, its root included as "".
inline std::map<std::string, std::string> RegistryTree(HKEY hRoot) {
  std::map<std::string, std::string> all;
  CollectTree(hRoot, "", &all);
  return all;
}

}  // namespace regtest
