// Threads with a start routine and parameter, priorities, and a forced end.
//
// A thread handle is waitable: it is signalled once the thread has ended.
// Closing the handle does not stop the thread.
#pragma once

#include "platform/Win32Types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
inline constexpr DWORD STILL_ACTIVE = 259;

// Starts `start(param)` on a new thread. Returns its handle (nullptr with the
// last error set on failure) once the thread runs, and stores its id in
// *lpThreadId when given.
HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID param, DWORD* lpThreadId);

// Maps the priority to a nice value where permitted; succeeds otherwise too.
BOOL SetThreadPriority(HANDLE hThread, int nPriority);

// Ends the thread at its next cancellation point (any wait or I/O call) and
// returns only once it has ended, so that nothing of it runs on afterwards.
// Calling it for the calling thread itself fails.
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);

// STILL_ACTIVE while the thread runs, then its start routine's result.
BOOL GetExitCodeThread(HANDLE hThread, DWORD* lpExitCode);

// The kernel's id of the calling thread.
DWORD GetCurrentThreadId();

void Sleep(DWORD dwMilliseconds);
