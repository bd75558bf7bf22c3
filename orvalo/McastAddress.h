// The address rule both engines apply to the live group: a dotted IPv4
// address in 224.0.0.0/4.
#pragma once

#include "platform/Win32Types.h"

namespace orvalo {

// TRUE for exactly four decimal parts of 0-255 separated by dots (at most 15
// characters, nothing before or after) whose first part is 224-239. FALSE for
// null, unicast and anything else.
BOOL IsMulticastAddress(const char* szDottedAddr);

}  // namespace orvalo
