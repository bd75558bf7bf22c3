#include "tests/pelago/PelagoTestUtil.h"

#include <unistd.h>

#include <cstdio>

namespace pelago_test {

tGroup NextGroup() {
  static unsigned s_nCounter = 0;
  const unsigned nPid = static_cast<unsigned>(getpid());
  const unsigned n = ++s_nCounter;
  char sz[16];
  std::snprintf(sz, sizeof sz, "239.%u.%u.%u", 128 | ((nPid >> 16) & 0x3F) | ((n & 1) << 6),
                (nPid >> 8) & 0xFF, nPid & 0xFF);
  return {sz, static_cast<WORD>(20000 + (nPid * 13 + n * 7) % 40000)};
}

}  // namespace pelago_test
