#include "com/Runtime.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "com/ServerExports.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Module.h"
#include "platform/ModuleUse.h"
#include "platform/Registry.h"

namespace {

thread_local int t_cInit = 0;  // this thread's CoInitialize calls not yet undone
thread_local DWORD t_dwModel = COINIT_APARTMENTTHREADED;
std::atomic<int> g_cInitThreads{0};  // threads with t_cInit > 0

// A server module loaded by the runtime.
struct LoadedServer {
  HMODULE hModule = nullptr;
  PFN_DllGetClassObject pfnGetClassObject = nullptr;
  PFN_DllCanUnloadNow pfnCanUnloadNow = nullptr;  // null: never unloaded
};

std::mutex g_serversMutex;
std::map<std::string, LoadedServer> g_servers;  // by module path; guarded by g_serversMutex

HRESULT ServerPath(REFCLSID rclsid, std::string* pPath) {
  platform::RegKey key;
  LONG err = key.Open(HKEY_CLASSES_ROOT, "CLSID\\" + com::FormatGuid(rclsid) + "\\InprocServer32",
                      KEY_READ);
  if (err == ERROR_FILE_NOT_FOUND) return REGDB_E_CLASSNOTREG;
  if (err != ERROR_SUCCESS) return REGDB_E_READREGDB;
  err = key.QueryString(std::string(), pPath);
  if (err == ERROR_SUCCESS && !pPath->empty()) return S_OK;
  return err == ERROR_SUCCESS || err == ERROR_FILE_NOT_FOUND ? CO_E_DLLNOTFOUND : REGDB_E_READREGDB;
}

// The loaded server at `path`, loading it on first use.
HRESULT LoadServer(const std::string& path, PFN_DllGetClassObject* ppfn) {
  std::lock_guard<std::mutex> lock(g_serversMutex);
  if (auto it = g_servers.find(path); it != g_servers.end()) {
    *ppfn = it->second.pfnGetClassObject;
    return S_OK;
  }
  HMODULE h = LoadLibrary(path.c_str());
  if (h == nullptr) return GetLastError() == ERROR_MOD_NOT_FOUND ? CO_E_DLLNOTFOUND : CO_E_ERRORINDLL;
  LoadedServer s;
  s.hModule = h;
  s.pfnGetClassObject = reinterpret_cast<PFN_DllGetClassObject>(GetProcAddress(h, "DllGetClassObject"));
  s.pfnCanUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(GetProcAddress(h, "DllCanUnloadNow"));
  if (s.pfnGetClassObject == nullptr) {
    OutputDebugString(("CoGetClassObject: no DllGetClassObject in " + path + "\n").c_str());
    FreeLibrary(h);
    return CO_E_ERRORINDLL;
  }
  g_servers.emplace(path, s);
  *ppfn = s.pfnGetClassObject;
  return S_OK;
}

}  // namespace

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (t_cInit > 0) {
    if (dwCoInit != t_dwModel) return RPC_E_CHANGED_MODE;
    ++t_cInit;
    return S_FALSE;
  }
  t_cInit = 1;
  t_dwModel = dwCoInit;
  g_cInitThreads.fetch_add(1);
  return S_OK;
}

void CoUninitialize() {
  if (t_cInit == 0 || --t_cInit > 0) return;
  if (g_cInitThreads.fetch_sub(1) == 1) CoFreeUnusedLibraries();
}

HRESULT com::ClsidFromProgId(std::string_view progId, CLSID* pClsid) {
  if (pClsid == nullptr) return E_INVALIDARG;
  std::string name(progId);
  // One step through CurVer, from a version-independent ProgID to its current one.
  for (int step = 0; step < 2 && !name.empty(); ++step) {
    platform::RegKey key;
    std::string text;
    if (key.Open(HKEY_CLASSES_ROOT, name + "\\CLSID", KEY_READ) == ERROR_SUCCESS &&
        key.QueryString(std::string(), &text) == ERROR_SUCCESS) {
      return ParseGuid(text, pClsid) ? S_OK : CO_E_CLASSSTRING;
    }
    key.Close();
    if (key.Open(HKEY_CLASSES_ROOT, name + "\\CurVer", KEY_READ) != ERROR_SUCCESS ||
        key.QueryString(std::string(), &text) != ERROR_SUCCESS)
      break;
    name = text;
  }
  return CO_E_CLASSSTRING;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  return com::ClsidFromProgId(com::Utf8FromUtf16(lpszProgID), lpclsid);
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (lpsz == nullptr || pclsid == nullptr) return E_INVALIDARG;
  return com::ParseGuid(com::Utf8FromUtf16(lpsz), pclsid) ? NOERROR : CO_E_CLASSSTRING;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  std::string text = com::FormatGuid(rguid);
  if (lpsz == nullptr || cchMax < static_cast<int>(text.size()) + 1) return 0;
  for (std::size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[text.size()] = u'\0';
  return static_cast<int>(text.size()) + 1;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string path;
  HRESULT hr = ServerPath(rclsid, &path);
  PFN_DllGetClassObject pfn = nullptr;
  if (SUCCEEDED(hr)) hr = LoadServer(path, &pfn);
  if (FAILED(hr)) return hr;
  hr = pfn(rclsid, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* pFactory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&pFactory));
  if (FAILED(hr)) return hr;
  hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
  pFactory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(g_serversMutex);
  for (auto it = g_servers.begin(); it != g_servers.end();) {
    const LoadedServer& s = it->second;
    // A module whose windows, dialogs or timers live stays, whatever its
    // DllCanUnloadNow says: the window layer would call into it later.
    if (s.pfnCanUnloadNow != nullptr && s.pfnCanUnloadNow() == S_OK &&
        !platform::IsModuleInUse(s.hModule)) {
      FreeLibrary(s.hModule);
      it = g_servers.erase(it);
    } else {
      ++it;
    }
  }
}

namespace com {

HRESULT CallServerExport(const char* szModulePath, const char* szExport) {
  if (!ORV_ASSERT(szModulePath != NULL) || !ORV_ASSERT(szExport != NULL)) return E_INVALIDARG;
  HMODULE hModule = LoadLibrary(szModulePath);
  if (hModule == nullptr) return CO_E_DLLNOTFOUND;
  auto pfn = reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(hModule, szExport));
  HRESULT hr = pfn != nullptr ? pfn() : CO_E_ERRORINDLL;
  FreeLibrary(hModule);
  return hr;
}

}  // namespace com
