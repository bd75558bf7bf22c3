// The settings the launcher stores for the macro add-in: one table of
// registry values, written in the order they were added.
#pragma once

#include "platform/Win32Types.h"

struct tRegSetting {
  char name[32];   // registry value name
  DWORD type;      // REG_SZ or REG_DWORD
  BYTE data[256];  // NUL-terminated text, or the 32-bit value in the first four bytes
};

inline constexpr int kMaxRegSettings = 9;
inline constexpr DWORD kMaxSettingTextChars = sizeof(tRegSetting::data) - 1;

extern tRegSetting g_RegSettings[kMaxRegSettings];
extern int g_nRegSettings;

// Each appends one entry. A full table, or a name or text too long for the
// entry, is reported as a failed assertion and adds nothing (FALSE).
BOOL AddSzSetting(LPCSTR szName, LPCSTR szText);
BOOL AddDwordSetting(LPCSTR szName, DWORD dwValue);

// The number of data bytes entry `s` is written with: the text without its
// NUL, or 4.
DWORD SettingDataLength(const tRegSetting& s);
