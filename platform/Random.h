// srand/rand as the system's code uses them: per-thread state (one thread's
// reseeding does not disturb another's) and the original runtime's generator,
// with every seed mixed with a per-process random salt so that two processes
// seeding in the same millisecond draw different numbers.
#pragma once

namespace platform {

inline constexpr int kRandMax = 0x7FFF;

void SeedRandom(unsigned int seed);

// 0..kRandMax.
int Random();

}  // namespace platform
