// Checks of the launcher's command line, made before anything is written or
// started: texts that fit their buffers, numbers that are numbers and in range.
#pragma once

#include <cstdio>

#include "platform/Win32Types.h"

// Argument positions (the program's name is 0).
inline constexpr int kArgMasterAddr = 1;
inline constexpr int kArgMasterPort = 2;
inline constexpr int kArgLiveAddr = 3;
inline constexpr int kArgLivePort = 4;
inline constexpr int kArgTTL = 5;
inline constexpr int kArgMaxRate = 6;
inline constexpr int kArgPresentation = 7;

// Longest presentation name: the longest path Linux opens.
inline constexpr DWORD kMaxPresentationChars = 4095;

// The value of a decimal argument: leading blanks, an optional sign, then
// digits only. FALSE when it is none or lies outside [dwMin, dwMax].
BOOL ParseNumberArgument(LPCSTR szArg, DWORD dwMin, DWORD dwMax, DWORD* pdwValue);

// Checks arguments 1 to min(nArgs - 1, 7); prints one line naming the first
// bad one to `out` and returns FALSE. On success pdwNumbers[i] holds the value
// of each numeric argument i (MPort, LPort, TTL, MaxRate), the rest 0.
BOOL CheckArguments(int nArgs, char* const* ppszArgs, DWORD pdwNumbers[kArgPresentation + 1],
                    std::FILE* out);
