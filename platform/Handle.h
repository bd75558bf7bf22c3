// Waitable objects behind HANDLE: events, socket events and threads.
//
// Events are eventfd-backed so that one poll() waits on events and sockets
// together. Modelled subset: unnamed events, wait-any (never wait-all), socket
// readiness for read and write. Thread-safe: any thread may set, reset or wait.
#pragma once

#include "platform/Win32Types.h"

namespace platform {

enum class ResetPolicy { Manual, Automatic };
enum class InitialState { NotSignaled, Signaled };

// Interest of a socket event.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;

}  // namespace platform

// Returns a new event, or nullptr with the last error set.
HANDLE CreateEvent(platform::ResetPolicy policy, platform::InitialState state);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Closes any handle of this layer. A thread's handle may be closed while the
// thread runs; the thread goes on.
BOOL CloseHandle(HANDLE hObject);

// Waits for one object. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
// An auto-reset event is reset by the wait that returns for it.
DWORD WaitForSingleObject(HANDLE hObject, DWORD dwMilliseconds);

// Waits until any of the objects is signalled. Returns WAIT_OBJECT_0 + i for
// the lowest signalled index i, WAIT_TIMEOUT (258) when the time ran out, or
// WAIT_FAILED for a null or unknown handle, nCount 0 or above 64, or bWaitAll.
// The wait returns only after the signal happened.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);

// Socket events: binds `hEvent` to socket `fd` with an interest (FD_READ,
// FD_WRITE or both; 0 unbinds). The event then counts as signalled while it is
// set or while the socket is ready for the interest (level-triggered). Returns
// 0, or -1 with the last error set.
int WSAEventSelect(int fd, HANDLE hEvent, long lNetworkEvents);

// Which interests of the bound socket are ready now (FD_READ | FD_WRITE bits),
// and resets the event's own signal. Clears nothing of the socket's readiness.
// Returns 0, or -1 with the last error set.
int WSAEnumNetworkEvents(int fd, HANDLE hEvent, long* plNetworkEvents);

HANDLE WSACreateEvent();  // manual-reset, not signalled
inline BOOL WSASetEvent(HANDLE h) { return SetEvent(h); }
inline BOOL WSAResetEvent(HANDLE h) { return ResetEvent(h); }
inline BOOL WSACloseEvent(HANDLE h) { return CloseHandle(h); }
