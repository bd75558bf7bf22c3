// Starting programs and waiting for them: the stand-in for CreateProcess,
// GetExitCodeProcess and TerminateProcess over posix_spawn and a pidfd.
//
// The command line is one string, split into the program's arguments by the
// original platform's rules (SplitCommandLine below); no shell runs in
// between. The program is the application name when given, else the command
// line's first argument: a name with a '/' is used as it stands, a bare name is
// searched along $PATH. The child gets the caller's environment (or the block
// given), its current folder (or the one given) and its standard input, output
// and error (or the descriptors of STARTUPINFO with STARTF_USESTDHANDLES).
//
// The process handle is waitable (WaitForSingleObject, WaitForMultipleObjects)
// and is signalled once the process has ended; the thread handle of
// PROCESS_INFORMATION is a second handle on the same process, the main thread
// of a Linux process having the process's own id. A process that has ended is
// reaped by the first wait or exit-code query that sees it, or when its last
// handle closes; one still running when its handles close goes on, and is
// reaped by nobody until this process ends. Modelled creation flags:
// NORMAL_PRIORITY_CLASS, and DETACHED_PROCESS, which changes nothing here (there
// is no console to detach from; the standard descriptors are passed as said
// above). Left out: security attributes, other flags, suspended starts, job
// objects, process groups. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Thread.h"
#include "platform/Win32Types.h"

inline constexpr DWORD DEBUG_PROCESS = 0x00000001;
inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;
inline constexpr DWORD DETACHED_PROCESS = 0x00000008;
inline constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;

inline constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;

inline constexpr DWORD ERROR_DIRECTORY = 267;

// What a new process starts with. On this platform the standard handles are
// file descriptors of the calling process; they count only with
// STARTF_USESTDHANDLES, and -1 there means the caller's own.
struct STARTUPINFO {
  DWORD cb = sizeof(STARTUPINFO);
  DWORD dwFlags = 0;
  int fdStdInput = -1;
  int fdStdOutput = -1;
  int fdStdError = -1;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// The start-up information of the calling process: its own standard handles.
void GetStartupInfo(STARTUPINFO* lpStartupInfo);

// Starts a program. lpCommandLine is required (the program's arguments);
// lpApplicationName, when not null, names the program file itself (no search).
// lpEnvironment is null (the caller's environment) or a block of
// "NAME=value\0" strings ended by one more NUL. lpCurrentDirectory is null
// (the caller's) or an existing folder. bInheritHandles FALSE closes every
// descriptor but the standard three in the child. On success fills
// *lpProcessInformation with two new handles, which the caller closes; on
// failure returns FALSE with the last error: ERROR_FILE_NOT_FOUND (no such
// program), ERROR_ACCESS_DENIED (not executable), ERROR_BAD_EXE_FORMAT,
// ERROR_DIRECTORY (no such current folder), ERROR_INVALID_PARAMETER (no
// command line, an empty one, an unmodelled flag or a null out-parameter).
BOOL CreateProcess(LPCSTR lpApplicationName, LPSTR lpCommandLine, const void* lpProcessAttributes,
                   const void* lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                   LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                   const STARTUPINFO* lpStartupInfo, PROCESS_INFORMATION* lpProcessInformation);

// STILL_ACTIVE while the process runs; then the code it passed to exit, or
// 128 + the signal's number when a signal ended it (as a shell reports it).
BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode);

// Ends the process at once (SIGKILL); its exit code becomes uExitCode. FALSE
// with ERROR_ACCESS_DENIED when it has ended already, as on the original.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);

namespace platform {

// Splits a command line into arguments by the original platform's rules:
// arguments are separated by blanks (space, tab) outside double quotes; a
// double quote opens or closes a quoted part and is dropped, so `a"b c"d` is
// one argument `ab cd`; within quotes a doubled quote stands for one quote;
// 2n backslashes before a quote give n backslashes and the quote does its
// work, 2n+1 give n backslashes and a literal quote; backslashes elsewhere are
// literal. The first argument, the program's name, ends at the first blank
// outside quotes; in it quotes only group and backslashes are plain text. An
// empty or blank command line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The argument quoted so that SplitCommandLine gives it back exactly as a
// later argument: in double quotes, with backslashes doubled before a quote
// or the closing quote and each quote escaped. A plain text comes out as
// "text". (The program's name is different: it must not hold a quote.)
std::string QuoteArgument(std::string_view argument);

}  // namespace platform
