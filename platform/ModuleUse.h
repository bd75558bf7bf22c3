// Whether a loaded module still has code that a process-wide layer will call:
// the window layer's window, dialog and timer procedures. Unloading such a
// module would leave that layer calling into unmapped code, so whoever
// unloads modules (the component runtime) asks first.
//
// A layer that keeps pointers into other modules registers one query at its
// own load. Thread-safe; queries are called without any lock of this file
// held, so they may take their own.
#pragma once

#include "platform/Win32Types.h"

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;

namespace platform {

// Answers whether hModule (a handle from LoadLibrary) is still in use.
using PFN_ModuleInUse = bool (*)(HMODULE hModule);

// Adds a query; the same one twice counts once.
void AddModuleUseQuery(PFN_ModuleInUse pfnQuery);
// True when any registered query says hModule is in use.
bool IsModuleInUse(HMODULE hModule);
// Whether pAddress (code or data) lies inside module hModule. False for null.
bool IsAddressInModule(const void* pAddress, HMODULE hModule);

}  // namespace platform
