#include "orvalo/Launcher/Launcher.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "com/Runtime.h"
#include "com/ServerExports.h"
#include "orvalo/Launcher/Arguments.h"
#include "orvalo/Launcher/RegSettings.h"
#include "orvalo/Launcher/RegistryKey.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Module.h"
#include "platform/Process.h"

char g_szInstallRootKey[] = "Software\\Microsoft\\Office\\9.0\\PowerPoint\\InstallRoot";
char g_szAddinKey[] = "Software\\Microsoft\\Office\\9.0\\Powerpoint\\Addins\\Dazirezo";
char g_szUserInfoKey[] = "Software\\Microsoft\\Office\\9.0\\Common\\UserInfo";

namespace {

constexpr char kPelagoLibrary[] = "Pelago.so";
constexpr char kOrvaloLibrary[] = "orvalo.so";
constexpr char kPresenterAddin[] = "orvaloPres.ppa";
constexpr char kViewerAddin[] = "orvaloView.ppa";
constexpr char kPowerpnt[] = "Powerpnt";

// Longest path of the program itself that is taken whole.
constexpr DWORD kModulePathBytes = 4096;

const char* const kUsage[] = {
    "Usage:\nTo send: orvalo <MAddr> <MPort> <LAddr> <LPort> <TTL> <MaxRate> <Presentation>\n",
    "To view: orvalo <MAddr> <MPort> <LAddr> <LPort> <TTL>\n",
    "Parameters:\n",
    "\t<MAddr> - multicast IP address for the slide master\n",
    "\t<MPort> - port number for slide master\n",
    "\t<LAddr> - multicast IP address for the live slides\n",
    "\t<LPort> - port number for live slides\n",
    "\t<TTL> - Time to live for KORIN packets\n",
    "\t<MaxRate> - maximum rate in kbps to send at\n",
    "\t<Presentation> - name of presentation to multicast\n",
    "\trestore - restore original rerirudo.dll in office directory\n",
};

// Office 9.0 -> 8.0 in one key path: the first "9.0" becomes "8.0".
void FallBackTo80(char* szKey) {
  char* p = std::strstr(szKey, "9.0");
  if (p == nullptr) {
    ORV_ASSERT(FALSE);
    return;
  }
  *p = '8';
}

BOOL QueryOfficeBinDir(char* pszDir) {
  CRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, g_szInstallRootKey, FALSE, FALSE)) return FALSE;
  DWORD dwType = REG_NONE;
  DWORD cbData = kOfficeDirBytes - 1;
  if (!key.QueryValue("Path", &dwType, reinterpret_cast<BYTE*>(pszDir), &cbData)) return FALSE;
  if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) return FALSE;
  pszDir[cbData] = '\0';  // stored with or without its NUL
  return TRUE;
}

// The UTF-16 form of an ASCII text, without a terminating NUL.
std::string Utf16Bytes(const char* szText) {
  std::string bytes;
  for (const char* p = szText; *p != '\0'; ++p) {
    bytes += *p;
    bytes += '\0';
  }
  return bytes;
}

}  // namespace

BOOL FindOfficeBinDir(char* pszDir) {
  try {
    if (QueryOfficeBinDir(pszDir)) return TRUE;
    FallBackTo80(g_szInstallRootKey);
    FallBackTo80(g_szAddinKey);
    FallBackTo80(g_szUserInfoKey);
    if (QueryOfficeBinDir(pszDir)) return TRUE;
    std::printf("Cannot get office bin dir from registry\n");
  } catch (...) {
    std::printf("Unexpected error\n");
  }
  return FALSE;
}

DWORD RegisterComServer(LPCSTR szLibraryPath) {
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) {
    std::fprintf(stderr, "CoInitialize failed: 0x%08x\n", static_cast<unsigned>(hr));
    return static_cast<DWORD>(hr);
  }
  HMODULE hModule = LoadLibrary(szLibraryPath);
  if (hModule == nullptr) {
    DWORD dwErr = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
    std::fprintf(stderr, "LoadLibrary(%s) failed: 0x%08x\n", szLibraryPath, dwErr);
    return dwErr;
  }
  auto pfnRegister =
      reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(hModule, "DllRegisterServer"));
  if (pfnRegister == nullptr) {
    DWORD dwErr = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
    std::fprintf(stderr, "GetProcAddress(\"DllRegisterServer\") on %s failed: 0x%08x\n",
                 szLibraryPath, dwErr);
    FreeLibrary(hModule);
    return dwErr;
  }
  hr = pfnRegister();
  FreeLibrary(hModule);
  if (hr != S_OK) {
    std::fprintf(stderr, "DllRegisterServer() on %s failed: 0x%08x\n", szLibraryPath,
                 static_cast<unsigned>(hr));
    return static_cast<DWORD>(hr);
  }
  return 0;
}

BOOL RegisterAddinAndSettings(LPCSTR szAddinPath) {
  try {
    CRegistryKey addinKey;
    if (!addinKey.Open(HKEY_LOCAL_MACHINE, g_szAddinKey, TRUE, TRUE)) return TRUE;
    CRegistryKey settingsKey;
    if (!settingsKey.Open(HKEY_CURRENT_USER, kSettingsKey, TRUE, TRUE)) return FALSE;
    if (!addinKey.SetValue("Path", REG_SZ, reinterpret_cast<const BYTE*>(szAddinPath),
                           static_cast<DWORD>(std::strlen(szAddinPath)))) {
      return FALSE;
    }
    for (int i = 0; i < g_nRegSettings; ++i) {
      const tRegSetting& s = g_RegSettings[i];
      if (!settingsKey.SetValue(s.name, s.type, s.data, SettingDataLength(s))) break;
    }
    return TRUE;
  } catch (...) {
    std::printf("Unexpected error\n");
    return FALSE;
  }
}

void SetDefaultUserInfo() {
  CRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, g_szUserInfoKey, TRUE, TRUE)) return;
  BYTE data[511];
  DWORD dwType = REG_NONE;
  DWORD cbData = sizeof data;
  if (!key.QueryValue("UserName", &dwType, data, &cbData) || cbData != 0) return;
  const std::string name = Utf16Bytes("Your name here");
  const std::string initials = Utf16Bytes("YNH");
  key.SetValue("UserName", dwType, reinterpret_cast<const BYTE*>(name.data()),
               static_cast<DWORD>(name.size()));
  key.SetValue("UserInitials", dwType, reinterpret_cast<const BYTE*>(initials.data()),
               static_cast<DWORD>(initials.size()));
}

int LauncherMain(int argc, char** argv) {
  // Line by line, so that messages keep their place among Powerpnt's output.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 6) {
    for (const char* szLine : kUsage) std::printf("%s", szLine);
    return 0;
  }
  int nResult = 0;
  try {
    DWORD dwNumbers[kArgPresentation + 1];
    if (!CheckArguments(argc, argv, dwNumbers, stdout)) return 0;
    AddSzSetting("MasterIPAddress", argv[kArgMasterAddr]);
    AddDwordSetting("MasterPort", dwNumbers[kArgMasterPort]);
    AddSzSetting("IPAddress", argv[kArgLiveAddr]);
    AddDwordSetting("Port", dwNumbers[kArgLivePort]);
    AddDwordSetting("TTL", dwNumbers[kArgTTL]);
    if (argc > kArgMaxRate) AddDwordSetting("MaxRate", dwNumbers[kArgMaxRate]);

    char szModulePath[kModulePathBytes];
    DWORD cchPath = GetModuleFileName(nullptr, szModulePath, sizeof szModulePath);
    if (cchPath == 0 || cchPath >= sizeof szModulePath) {
      std::printf("GetModuleFileName failed with %d\n",
                  static_cast<int>(cchPath == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER));
      return 0;
    }
    std::string folder(szModulePath, cchPath);
    const std::size_t slash = folder.rfind('/');
    folder.resize(slash == std::string::npos ? 0 : slash);

    char szOfficeDir[kOfficeDirBytes];
    nResult = FindOfficeBinDir(szOfficeDir);
    if (!nResult) return 0;

    if (RegisterComServer((folder + "/" + kPelagoLibrary).c_str()) != 0) {
      std::printf("Register %s failed\n", kPelagoLibrary);
      return 0;
    }
    if (RegisterComServer((folder + "/" + kOrvaloLibrary).c_str()) != 0) {
      std::printf("Register %s failed\n", kOrvaloLibrary);
      return 0;
    }

    std::string commandLine = std::string("\"") + szOfficeDir + "/" + kPowerpnt + "\"";
    std::string addinPath;
    if (argc > kArgPresentation) {
      std::printf("Launching presenter...\n");
      addinPath = folder + "/" + kPresenterAddin;
      commandLine += " " + platform::QuoteArgument(argv[kArgPresentation]);
    } else {
      std::printf("Launching viewer...\n");
      addinPath = folder + "/" + kViewerAddin;
    }
    commandLine += " " + platform::QuoteArgument(addinPath);

    nResult = RegisterAddinAndSettings(addinPath.c_str());
    if (!nResult) return 0;
    SetDefaultUserInfo();

    STARTUPINFO si;
    GetStartupInfo(&si);
    PROCESS_INFORMATION pi{};
    nResult = CreateProcess(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                            DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
    if (!nResult) {
      std::printf("Unable to start %s", commandLine.c_str());
      return 0;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
  } catch (...) {
    std::printf("Unexpected error caught in main\n");
    return nResult;
  }
}
