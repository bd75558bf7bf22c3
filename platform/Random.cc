#include "platform/Random.h"

#include <sys/random.h>

#include <chrono>

namespace platform {
namespace {

unsigned int ProcessSalt() {
  static const unsigned int salt = [] {
    unsigned int s = 0;
    if (getrandom(&s, sizeof s, 0) != sizeof s) {
      s = static_cast<unsigned int>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count());
    }
    return s;
  }();
  return salt;
}

thread_local bool t_fSeeded = false;
thread_local unsigned int t_state = 0;

}  // namespace

void SeedRandom(unsigned int seed) {
  t_state = seed ^ ProcessSalt();
  t_fSeeded = true;
}

int Random() {
  if (!t_fSeeded) SeedRandom(1);
  t_state = t_state * 214013u + 2531011u;
  return static_cast<int>((t_state >> 16) & kRandMax);
}

}  // namespace platform
