// The launcher: stores the multicast settings for the macro add-in, registers
// Pelago.so and orvalo.so from its own folder, registers the add-in with the
// presentation application, fills in default user information, starts
// Powerpnt as presenter or viewer and waits for it to end.
#pragma once

#include "platform/Win32Types.h"

// The Office keys, beginning "Software\\Microsoft\\Office\\9.0\\" until
// FindOfficeBinDir falls back to 8.0 by rewriting them in place.
extern char g_szInstallRootKey[];
extern char g_szAddinKey[];
extern char g_szUserInfoKey[];

inline constexpr char kSettingsKey[] = "Software\\Microsoft\\Office\\Orvalo";

// Size of the buffer FindOfficeBinDir fills (the text and its NUL).
inline constexpr DWORD kOfficeDirBytes = 256;

// The folder holding Powerpnt, from the InstallRoot key's "Path" (9.0, else
// 8.0), NUL-terminated in pszDir[kOfficeDirBytes]. FALSE after printing why.
BOOL FindOfficeBinDir(char* pszDir);

// Loads the library, calls its DllRegisterServer and unloads it; messages go
// to standard error. 0, or the failing code.
DWORD RegisterComServer(LPCSTR szLibraryPath);

// Writes the add-in's "Path" and the settings table. FALSE when the settings
// key or the add-in path cannot be written.
BOOL RegisterAddinAndSettings(LPCSTR szAddinPath);

// Replaces an empty stored "UserName" (and "UserInitials") by defaults.
void SetDefaultUserInfo();

// The program: exit code 1 once Powerpnt was started and has ended, else 0.
int LauncherMain(int argc, char** argv);
