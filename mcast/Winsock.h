// The Windows Sockets types the multicast port is written in, without the
// socket headers themselves (those stay inside the port's .cc files).
//
// Modelled subset: descriptors, buffer lists, socket events and the overlap
// record's shape. Overlapped I/O itself does not exist on this platform: every
// call completes before it returns, and the port refuses a non-null overlap
// record or completion routine (see CMulticast).
#pragma once

#include "platform/Handle.h"
#include "platform/Win32Types.h"

// sockaddr_in comes from the system's socket headers; callers that only pass
// it through need no more than this declaration.
struct sockaddr_in;

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// The same type the C library names u_long, so that both can meet in one file.
using u_long = unsigned long;

// One buffer of a gather/scatter list: length, then pointer.
struct WSABUF {
  ULONG len;
  char* buf;
};
using LPWSABUF = WSABUF*;

// Shape of the overlap record. Callers (the Korin send and receive requests)
// use its event to signal completion themselves.
struct OVERLAPPED {
  UINT_PTR Internal;
  UINT_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using WSAOVERLAPPED = OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;
using LPWSAOVERLAPPED = OVERLAPPED*;
using LPWSAOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD dwError, DWORD cbTransferred,
                                                    LPWSAOVERLAPPED lpOverlapped, DWORD dwFlags);

inline constexpr long FD_READ = platform::FD_READ;
inline constexpr long FD_WRITE = platform::FD_WRITE;
inline constexpr int FD_MAX_EVENTS = 10;

// What an enumeration of a socket's network events reports: the ready
// interests; the per-event error codes are always 0 here.
struct WSANETWORKEVENTS {
  long lNetworkEvents;
  int iErrorCode[FD_MAX_EVENTS];
};
using LPWSANETWORKEVENTS = WSANETWORKEVENTS*;
