// The component runtime's entry points: thread initialisation, class lookup
// by ProgID, and creation of objects from in-process servers.
//
// A class is found under HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32,
// whose default value is the path of the server module. The module is loaded
// once per process and stays loaded until CoFreeUnusedLibraries (or the last
// CoUninitialize) finds that its DllCanUnloadNow agrees and that no window of
// it lives. Its exported DllGetClassObject gives the class factory.
//
// Only in-process servers exist. Apartments are counted per thread but not
// enforced: there is no marshalling, and an object is called directly on
// whatever thread holds its pointer; the ThreadingModel value is recorded at
// registration and otherwise ignored. Each module has its own copy of the
// runtime, so a server module cannot see its host's CoInitialize: creating
// objects therefore does not require it (the original gives
// CO_E_NOTINITIALIZED there).
#pragma once

#include <string_view>

#include "com/Bstr.h"
#include "com/Guid.h"
#include "com/HResult.h"
#include "com/Unknown.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER = 0x15;
inline constexpr DWORD CLSCTX_ALL = 0x17;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// S_OK for the thread's first call, S_FALSE for further ones (each needs its
// CoUninitialize), RPC_E_CHANGED_MODE for a different model than before.
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();

// The class of a ProgID: HKEY_CLASSES_ROOT\<ProgID>\CLSID, or the one of its
// CurVer ProgID. CO_E_CLASSSTRING when it is not registered.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// Parses a braced GUID: CO_E_CLASSSTRING if it is none.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// Writes the braced form with its NUL; returns the characters written (39)
// or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// The class factory (or another interface) of a registered class.
// REGDB_E_CLASSNOTREG
// for a class that is not registered or a context without
// CLSCTX_INPROC_SERVER; CO_E_DLLNOTFOUND when the module is missing;
// CO_E_ERRORINDLL when it cannot be loaded or has no DllGetClassObject;
// otherwise what DllGetClassObject returns.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv);
// A new object of a registered class: the codes of CoGetClassObject, then
// those of IClassFactory::CreateInstance. *ppv is null on failure.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// Unloads every module loaded by the runtime whose DllCanUnloadNow gives S_OK
// and which no window, dialog or timer procedure of the window layer still
// points into (platform/ModuleUse.h); the others stay for a later call.
void CoFreeUnusedLibraries();

namespace com {

// CLSIDFromProgID for a UTF-8 ProgID.
HRESULT ClsidFromProgId(std::string_view progId, CLSID* pClsid);

// Loads the server module at `szModulePath`, calls its export `szExport`
// (DllRegisterServer or DllUnregisterServer) and unloads it again, as a
// library is registered. The export's result; CO_E_DLLNOTFOUND when the
// module does not load, CO_E_ERRORINDLL when it lacks the export.
HRESULT CallServerExport(const char* szModulePath, const char* szExport);

}  // namespace com
