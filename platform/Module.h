// Loading shared libraries at run time: the stand-in for LoadLibrary,
// GetProcAddress, FreeLibrary and GetModuleFileName over dlopen/dlsym/dlclose.
//
// A module is loaded with all its symbols resolved at once and kept private
// to itself (RTLD_NOW | RTLD_LOCAL). Loading the same file twice gives the
// same module and counts a reference, as on the original platform. Failures
// set the calling thread's last error (GetLastError) and send the loader's
// own message to the debugger output. Thread-safe.
#pragma once

#include <string>

#include "platform/Win32Types.h"

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

// The module, or null with last error ERROR_MOD_NOT_FOUND (the file does not
// exist or cannot be found) or ERROR_BAD_EXE_FORMAT (it cannot be loaded).
HMODULE LoadLibrary(LPCSTR lpLibFileName);

// The exported symbol, or null with last error ERROR_PROC_NOT_FOUND (or
// ERROR_INVALID_HANDLE for a null module). Cast it to the export's type.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Drops one reference; the module is unloaded with the last one.
BOOL FreeLibrary(HMODULE hModule);

// The full path of a module (null: the running program) as a NUL-terminated
// string cut to nSize - 1 characters. Returns the characters copied without
// the NUL; nSize when cut (last error ERROR_INSUFFICIENT_BUFFER); 0 on failure.
DWORD GetModuleFileName(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

namespace platform {

// The full path of the module (program or shared library) that holds
// `pAddress`, e.g. the address of a function of that module; empty if none.
std::string ModulePathOf(const void* pAddress);

// Whether the shared library at `path` is loaded in this process.
bool IsModuleLoaded(const std::string& path);

}  // namespace platform
