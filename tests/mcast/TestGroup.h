// A multicast group and port of this test process's own, so that test
// processes running side by side never hear each other.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/Win32Types.h"

namespace mcast_test {

struct TestGroup {
  std::string sAddr;
  WORD wPort;
};

// Different for every call and every process (by process id).
inline TestGroup NextTestGroup() {
  static unsigned s_nCounter = 0;
  unsigned nPid = static_cast<unsigned>(getpid());
  unsigned n = ++s_nCounter;
  char sz[16];
  snprintf(sz, sizeof sz, "239.%u.%u.%u", ((nPid >> 16) & 0x3F) | ((n & 3) << 6), (nPid >> 8) & 0xFF,
           nPid & 0xFF);
  return {sz, static_cast<WORD>(20000 + (nPid * 7 + n) % 40000)};
}

}  // namespace mcast_test
