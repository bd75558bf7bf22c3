// What the unload fixture module and its tests share.
#pragma once

#include "com/Guid.h"
#include "ui/UiTypes.h"

inline constexpr CLSID CLSID_UiUnloadFixture =
    com::MakeGuid("{0C5B7E64-2F0D-4B8A-9E17-6A3D41C2B901}");
inline constexpr const char* kUiUnloadFixtureClass = "UiUnloadFixture";

extern "C" {
using PFN_FixtureCreateWindow = HWND (*)();
using PFN_FixtureCreateDialog = HWND (*)();
using PFN_FixtureSetTimer = UINT_PTR (*)();
}
