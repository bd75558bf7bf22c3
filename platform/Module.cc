#include "platform/Module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/DebugOutput.h"
#include "platform/Errors.h"

namespace {

void ReportLoaderError(const char* szWhat) {
  const char* szWhy = dlerror();
  std::string msg = std::string(szWhat) + ": " + (szWhy != nullptr ? szWhy : "unknown error") + "\n";
  OutputDebugString(msg.c_str());
}

std::string RealPath(const char* path) {
  char buf[PATH_MAX];
  return realpath(path, buf) != nullptr ? std::string(buf) : std::string(path);
}

}  // namespace

HMODULE LoadLibrary(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* h = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    ReportLoaderError(lpLibFileName);
    bool fPath = std::strchr(lpLibFileName, '/') != nullptr;
    bool fExists = fPath && access(lpLibFileName, F_OK) == 0;
    SetLastError(fExists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(h);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == nullptr || lpProcName == nullptr) {
    SetLastError(hModule == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dlerror();
  void* p = dlsym(hModule, lpProcName);
  if (p == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(p);
}

BOOL FreeLibrary(HMODULE hModule) {
  if (hModule == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dlclose(hModule) != 0) {
    ReportLoaderError("FreeLibrary");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileName(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (hModule == nullptr) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
  } else {
    link_map* map = nullptr;
    if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
      path = RealPath(map->l_name);
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

namespace platform {

std::string ModulePathOf(const void* pAddress) {
  Dl_info info{};
  if (dladdr(pAddress, &info) == 0 || info.dli_fname == nullptr) return std::string();
  return RealPath(info.dli_fname);
}

bool IsModuleLoaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

}  // namespace platform
