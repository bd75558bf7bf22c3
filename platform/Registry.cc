#include "platform/Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/File.h"
#include "platform/RegistryDb.h"

using platform::registry::Txn;

// An opened key: the key's id and the rights it was opened with.
struct HKEY__ {
  std::int64_t id;
  REGSAM sam;
};

namespace {

std::mutex g_handlesMutex;
// Every handle RegOpenKeyEx/RegCreateKeyEx gave out and RegCloseKey has not
// closed yet, so that an unknown handle is refused rather than followed.
std::unordered_set<HKEY> g_handles;  // guarded by g_handlesMutex

struct Target {
  std::int64_t id = 0;
  REGSAM sam = 0;
};

// The key id and rights behind a handle, or ERROR_INVALID_HANDLE.
DWORD Resolve(HKEY hKey, Target* pTarget) {
  const std::pair<HKEY, std::int64_t> roots[] = {
      {HKEY_CLASSES_ROOT, platform::registry::kClassesRootId},
      {HKEY_CURRENT_USER, platform::registry::kCurrentUserId},
      {HKEY_LOCAL_MACHINE, platform::registry::kLocalMachineId},
  };
  for (const auto& [h, id] : roots) {
    if (hKey == h) {
      *pTarget = Target{id, KEY_ALL_ACCESS};
      return ERROR_SUCCESS;
    }
  }
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  if (hKey == nullptr || g_handles.count(hKey) == 0) return ERROR_INVALID_HANDLE;
  *pTarget = Target{hKey->id, hKey->sam};
  return ERROR_SUCCESS;
}

HKEY NewHandle(std::int64_t id, REGSAM sam) {
  HKEY h = new HKEY__{id, sam};
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  g_handles.insert(h);
  return h;
}

// Splits "a\\b\\c" into its components, skipping empty ones.
DWORD SplitPath(LPCSTR lpSubKey, std::vector<std::string_view>* pParts) {
  pParts->clear();
  std::string_view path = lpSubKey == nullptr ? std::string_view() : std::string_view(lpSubKey);
  while (!path.empty()) {
    std::size_t cut = path.find('\\');
    std::string_view part = path.substr(0, cut);
    if (part.size() > kMaxRegKeyNameChars) return ERROR_INVALID_PARAMETER;
    if (!part.empty()) pParts->push_back(part);
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return ERROR_SUCCESS;
}

std::string_view ValueName(LPCSTR lpValueName) {
  return lpValueName == nullptr ? std::string_view() : std::string_view(lpValueName);
}

// Copies a name into a caller's character buffer as the enumerations do.
DWORD CopyName(const std::string& name, LPSTR lpName, LPDWORD lpcchName) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Hands out a value's type and data as RegQueryValueEx does.
DWORD CopyData(DWORD type, const std::string& data, LPDWORD lpType, LPBYTE lpData,
               LPDWORD lpcbData) {
  if (lpType != nullptr) *lpType = type;
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  DWORD cbBuffer = *lpcbData;
  *lpcbData = static_cast<DWORD>(data.size());
  if (lpData == nullptr) return ERROR_SUCCESS;
  if (data.size() > cbBuffer) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(lpData, data.data(), data.size());
  return ERROR_SUCCESS;
}

// Walks `parts` down from `id`; creates missing keys when `pfCreated` is set.
DWORD Walk(Txn& txn, std::int64_t id, const std::vector<std::string_view>& parts,
           bool* pfCreated, std::int64_t* pId) {
  for (std::string_view part : parts) {
    std::int64_t child = 0;
    DWORD err = txn.FindChild(id, part, &child);
    if (err == ERROR_FILE_NOT_FOUND && pfCreated != nullptr) {
      err = txn.CreateChild(id, part, &child);
      *pfCreated = true;
    }
    if (err != ERROR_SUCCESS) return err;
    id = child;
  }
  *pId = id;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                  PHKEY phkResult) {
  if (phkResult == nullptr || ulOptions != 0) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Target t;
  std::vector<std::string_view> parts;
  DWORD err = Resolve(hKey, &t);
  if (err == ERROR_SUCCESS) err = SplitPath(lpSubKey, &parts);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  std::int64_t id = 0;
  err = Txn::Run(false, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : Walk(txn, t.id, parts, nullptr, &id);
  });
  if (err == ERROR_SUCCESS) *phkResult = NewHandle(id, samDesired);
  return static_cast<LONG>(err);
}

LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                    DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                    PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Target t;
  std::vector<std::string_view> parts;
  DWORD err = Resolve(hKey, &t);
  if (err == ERROR_SUCCESS) err = SplitPath(lpSubKey, &parts);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  std::int64_t id = 0;
  bool fCreated = false;
  err = Txn::Run(true, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    if (e != ERROR_SUCCESS) return e;
    fCreated = false;
    e = Walk(txn, t.id, parts, &fCreated, &id);
    if (e == ERROR_SUCCESS && fCreated && (t.sam & KEY_CREATE_SUB_KEY) == 0)
      e = ERROR_ACCESS_DENIED;
    return e;
  });
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  *phkResult = NewHandle(id, samDesired);
  if (lpdwDisposition != nullptr)
    *lpdwDisposition = fCreated ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                   const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  Target t;
  DWORD err = Resolve(hKey, &t);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  if ((t.sam & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string_view data(reinterpret_cast<const char*>(lpData), lpData == nullptr ? 0 : cbData);
  return static_cast<LONG>(Txn::Run(true, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : txn.SetValue(t.id, ValueName(lpValueName), dwType, data);
  }));
}

LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                     LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  DWORD err = Resolve(hKey, &t);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  if ((t.sam & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  DWORD type = REG_NONE;
  std::string data;
  err = Txn::Run(false, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : txn.GetValue(t.id, ValueName(lpValueName), &type, &data);
  });
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  return static_cast<LONG>(CopyData(type, data, lpType, lpData, lpcbData));
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                  LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                  FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpClass != nullptr)
    return ERROR_INVALID_PARAMETER;
  Target t;
  DWORD err = Resolve(hKey, &t);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  if ((t.sam & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  std::string name;
  FILETIME written{};
  err = Txn::Run(false, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : txn.ChildAt(t.id, dwIndex, &name, &written);
  });
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  err = CopyName(name, lpName, lpcchName);
  if (err == ERROR_SUCCESS && lpftLastWriteTime != nullptr) *lpftLastWriteTime = written;
  return static_cast<LONG>(err);
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                  LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  DWORD err = Resolve(hKey, &t);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  if ((t.sam & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string name, data;
  DWORD type = REG_NONE;
  err = Txn::Run(false, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : txn.ValueAt(t.id, dwIndex, &name, &type, &data);
  });
  if (err == ERROR_SUCCESS) err = CopyName(name, lpValueName, lpcchValueName);
  if (err == ERROR_SUCCESS) err = CopyData(type, data, lpType, lpData, lpcbData);
  return static_cast<LONG>(err);
}

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName) {
  Target t;
  DWORD err = Resolve(hKey, &t);
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  if ((t.sam & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return static_cast<LONG>(Txn::Run(true, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    return e != ERROR_SUCCESS ? e : txn.DeleteValue(t.id, ValueName(lpValueName));
  }));
}

namespace {

// RegDeleteKey (fTree false) and RegDeleteTree (fTree true).
LONG DeleteKeyImpl(HKEY hKey, LPCSTR lpSubKey, bool fTree) {
  Target t;
  std::vector<std::string_view> parts;
  DWORD err = Resolve(hKey, &t);
  if (err == ERROR_SUCCESS) err = SplitPath(lpSubKey, &parts);
  if (err == ERROR_SUCCESS && parts.empty() && !fTree) err = ERROR_INVALID_PARAMETER;
  if (err != ERROR_SUCCESS) return static_cast<LONG>(err);
  return static_cast<LONG>(Txn::Run(true, [&](Txn& txn) {
    DWORD e = txn.CheckKey(t.id);
    std::int64_t id = 0;
    if (e == ERROR_SUCCESS) e = Walk(txn, t.id, parts, nullptr, &id);
    if (e != ERROR_SUCCESS) return e;
    if (!fTree) {
      bool fHas = false;
      e = txn.HasChildren(id, &fHas);
      if (e == ERROR_SUCCESS && fHas) e = ERROR_ACCESS_DENIED;
      if (e != ERROR_SUCCESS) return e;
    }
    return txn.DeleteTree(id, !parts.empty());
  }));
}

}  // namespace

LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, false); }

LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, true); }

LONG RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE)
    return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (hKey == nullptr || g_handles.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  }
  delete hKey;
  return ERROR_SUCCESS;
}

namespace platform {

std::string RegistryPath() {
  if (const char* p = std::getenv("ORVALO_REGISTRY"); p != nullptr && *p != '\0') return p;
  if (const char* p = std::getenv("XDG_CONFIG_HOME"); p != nullptr && *p == '/')
    return JoinPath(JoinPath(p, "orvalo"), "registry.db");
  std::string home;
  if (const char* p = std::getenv("HOME"); p != nullptr && *p != '\0') {
    home = p;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = "/tmp";
  }
  return JoinPath(JoinPath(JoinPath(home, ".config"), "orvalo"), "registry.db");
}

LONG RegKey::QueryString(const std::string& name, std::string* pValue) const {
  DWORD type = REG_NONE;
  DWORD cb = 0;
  LONG err = RegQueryValueEx(m_hKey, name.c_str(), nullptr, &type, nullptr, &cb);
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  std::string data(cb, '\0');
  err = RegQueryValueEx(m_hKey, name.c_str(), nullptr, &type,
                        reinterpret_cast<LPBYTE>(data.data()), &cb);
  if (err != ERROR_SUCCESS) return err;
  data.resize(cb);
  *pValue = data.substr(0, data.find('\0'));
  return ERROR_SUCCESS;
}

}  // namespace platform
