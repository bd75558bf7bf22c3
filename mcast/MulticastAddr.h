// Helpers shared by the multicast port's source files: address parsing and
// the process-wide interface seam. Private to mcast/.
#pragma once

#include "platform/Win32Types.h"

namespace mcast_internal {

// A dotted IPv4 address of at most 15 characters (four decimal parts) into
// network order; false for anything else.
bool ParseDottedAddr(const char* szDottedAddr, DWORD* pdwAddr);

// The interface set by CMulticast::SetInterfaceForTesting, or at start by the
// environment variable ORVALO_MCAST_INTERFACE (network order), or 0
// (INADDR_ANY) when routing chooses.
DWORD TestInterfaceAddr();

// True when ORVALO_MCAST_INTERFACE names a loopback address: every process
// of the machine then sends and hears the groups on loopback.
bool LoopbackMachineFromEnvironment();

// printf-style, as one string to the debugger output.
void DebugPrintf(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace mcast_internal
