#include "com/Registration.h"

#include "platform/File.h"
#include "platform/Registry.h"

namespace com {
namespace {

// Sets value `name` (empty: default) of HKCR\<path>, creating the key.
LONG SetText(const std::string& path, const std::string& name, const std::string& text) {
  platform::RegKey key;
  LONG err = key.Create(HKEY_CLASSES_ROOT, path);
  return err != ERROR_SUCCESS ? err : key.SetString(name, text);
}

std::string ReplaceModule(std::string text, const std::string& modulePath) {
  const std::string token = "%MODULE%";
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
    text.replace(at, token.size(), modulePath);
    at += modulePath.size();
  }
  return text;
}

LONG DeleteTree(const std::string& path) {
  LONG err = RegDeleteTree(HKEY_CLASSES_ROOT, path.c_str());
  return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
}

// Removes a ProgID key only while its CLSID is still `clsid`.
LONG DeleteProgId(const std::string& progId, const CLSID& clsid) {
  if (progId.empty()) return ERROR_SUCCESS;
  platform::RegKey key;
  std::string text;
  GUID g{};
  if (key.Open(HKEY_CLASSES_ROOT, progId + "\\CLSID", KEY_READ) == ERROR_SUCCESS &&
      key.QueryString(std::string(), &text) == ERROR_SUCCESS && ParseGuid(text, &g) && g != clsid)
    return ERROR_SUCCESS;
  key.Close();
  return DeleteTree(progId);
}

HRESULT Result(LONG err) { return HRESULT_FROM_WIN32(static_cast<DWORD>(err)); }

}  // namespace

HRESULT RegisterCoClass(const CoClassRegistration& reg, const std::string& modulePath) {
  const std::string clsid = FormatGuid(reg.clsid);
  const std::string base = "CLSID\\" + clsid;
  struct Value {
    std::string path, name, text;
  };
  std::vector<Value> values = {{base, "", reg.description},
                               {base + "\\InprocServer32", "", modulePath},
                               {base + "\\InprocServer32", "ThreadingModel", reg.threadingModel}};
  if (!reg.progId.empty()) {
    values.push_back({reg.progId, "", reg.description});
    values.push_back({reg.progId + "\\CLSID", "", clsid});
    values.push_back({base + "\\ProgID", "", reg.progId});
  }
  if (!reg.versionIndependentProgId.empty()) {
    const std::string& vi = reg.versionIndependentProgId;
    values.push_back({vi, "", reg.description});
    values.push_back({vi + "\\CLSID", "", clsid});
    if (!reg.progId.empty()) values.push_back({vi + "\\CurVer", "", reg.progId});
    values.push_back({base + "\\VersionIndependentProgID", "", vi});
  }
  if (reg.pLibId != nullptr) values.push_back({base + "\\TypeLib", "", FormatGuid(*reg.pLibId)});
  if (!reg.version.empty()) values.push_back({base + "\\Version", "", reg.version});
  for (const RegEntry& e : reg.extra) {
    std::string path = e.subKey.empty() ? base : base + "\\" + e.subKey;
    values.push_back({path, e.valueName, ReplaceModule(e.value, modulePath)});
  }
  for (const Value& v : values) {
    LONG err = SetText(v.path, v.name, v.text);
    if (err != ERROR_SUCCESS) return Result(err);
  }
  for (const std::string& flag : reg.flagKeys) {
    platform::RegKey key;
    LONG err = key.Create(HKEY_CLASSES_ROOT, base + "\\" + flag);
    if (err != ERROR_SUCCESS) return Result(err);
  }
  return S_OK;
}

HRESULT UnregisterCoClass(const CoClassRegistration& reg) {
  LONG err = DeleteProgId(reg.progId, reg.clsid);
  if (err == ERROR_SUCCESS) err = DeleteProgId(reg.versionIndependentProgId, reg.clsid);
  if (err == ERROR_SUCCESS) err = DeleteTree("CLSID\\" + FormatGuid(reg.clsid));
  return Result(err);
}

HRESULT RegisterTypeLib(const TypeLibRegistration& reg, const std::string& modulePath) {
  const std::string libid = FormatGuid(reg.libid);
  const std::string base = "TypeLib\\" + libid + "\\" + reg.version;
  LONG err = SetText(base, "", reg.helpString);
  if (err == ERROR_SUCCESS) err = SetText(base + "\\0\\win32", "", modulePath);
  if (err == ERROR_SUCCESS) err = SetText(base + "\\FLAGS", "", "0");
  if (err == ERROR_SUCCESS) err = SetText(base + "\\HELPDIR", "", platform::DirName(modulePath));
  for (const auto& itf : reg.interfaces) {
    const std::string path = "Interface\\" + FormatGuid(itf.iid);
    if (err == ERROR_SUCCESS) err = SetText(path, "", itf.name);
    if (err == ERROR_SUCCESS) err = SetText(path + "\\TypeLib", "", libid);
    if (err == ERROR_SUCCESS) err = SetText(path + "\\TypeLib", "Version", reg.version);
  }
  return Result(err);
}

HRESULT UnregisterTypeLib(const TypeLibRegistration& reg) {
  const std::string lib = "TypeLib\\" + FormatGuid(reg.libid);
  LONG err = DeleteTree(lib + "\\" + reg.version);
  // The library's key goes too once no version is left in it.
  if (err == ERROR_SUCCESS) {
    platform::RegKey key;
    char name[kMaxRegKeyNameChars + 1];
    DWORD cch = sizeof name;
    if (key.Open(HKEY_CLASSES_ROOT, lib, KEY_READ) == ERROR_SUCCESS &&
        RegEnumKeyEx(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_NO_MORE_ITEMS) {
      key.Close();
      err = DeleteTree(lib);
    }
  }
  for (const auto& itf : reg.interfaces)
    if (err == ERROR_SUCCESS) err = DeleteTree("Interface\\" + FormatGuid(itf.iid));
  return Result(err);
}

HRESULT RegisterServer(const std::vector<CoClassRegistration>& classes,
                       const TypeLibRegistration& typeLib, const std::string& modulePath) {
  if (modulePath.empty()) return E_FAIL;
  for (const CoClassRegistration& reg : classes) {
    HRESULT hr = RegisterCoClass(reg, modulePath);
    if (FAILED(hr)) return hr;
  }
  return RegisterTypeLib(typeLib, modulePath);
}

HRESULT UnregisterServer(const std::vector<CoClassRegistration>& classes,
                         const TypeLibRegistration& typeLib) {
  HRESULT hrFirst = S_OK;
  for (const CoClassRegistration& reg : classes) {
    HRESULT hr = UnregisterCoClass(reg);
    if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
  }
  HRESULT hr = UnregisterTypeLib(typeLib);
  return FAILED(hr) && SUCCEEDED(hrFirst) ? hr : hrFirst;
}

}  // namespace com
