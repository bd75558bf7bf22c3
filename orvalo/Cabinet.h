// The cabinet wrappers: one file into a one-file MSZIP cabinet beside it, and
// a received cabinet back into a folder. Both trace what they do and why they
// fail through DebugTrace.
#pragma once

#include "platform/Win32Types.h"

namespace orvalo {

// Writes "<source>.cab" beside szSourcePath: one MSZIP folder holding the file
// under its bare name with its last-write time as local DOS date and time and
// its attributes masked with 0x27. TRUE on success; on failure no cabinet is left.
BOOL Compress(const char* szSourcePath);

// Extracts the cabinet at szCabinetPath into szDestDir (null: the cabinet's
// own folder) and writes the extracted file's full path to szOutPath, a
// buffer of MAX_PATH + 1 characters. The file gets the cabinet's date and time
// as its last-write time and the cabinet's attributes masked with 0x27.
// A cabinet comes from the network: one that is not a cabinet, is truncated or
// corrupt, holds other than exactly one file, or names anything but a bare
// file name is refused (FALSE) and nothing is written outside szDestDir
// (nothing is left there either). With szRequiredName, a cabinet whose file
// has another name is refused too, so that a received cabinet cannot replace
// an unrelated file of a shared folder. Reentrant.
BOOL Extract(const char* szCabinetPath, const char* szDestDir, char* szOutPath,
             const char* szRequiredName = nullptr);

// The names of the compression (0-8) and extraction (0-11) error codes;
// "Unknown error" for any other code.
const char* CompressErrorName(int nCode);
const char* ExtractErrorName(int nCode);

// Error codes the wrappers report in their traces.
inline constexpr int kFciErrOpenSrc = 1;
inline constexpr int kFciErrReadSrc = 2;
inline constexpr int kFciErrCabFile = 6;
inline constexpr int kFciErrMszipFailure = 8;
inline constexpr int kFdiErrCabinetNotFound = 1;
inline constexpr int kFdiErrNotACabinet = 2;
inline constexpr int kFdiErrCorruptCabinet = 4;
inline constexpr int kFdiErrDecompress = 7;
inline constexpr int kFdiErrTarget = 8;

}  // namespace orvalo
