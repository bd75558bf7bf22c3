// The carousel case both carousel benchmarks measure: a 20 MiB file at
// 40 Mbit/s in groups of 16 blocks of 1024 bytes, up to 255 blocks a group.
#pragma once

#include <cstddef>

#include "mcast/Multicast.h"
#include "platform/Win32Types.h"

namespace pelago_bench {

constexpr unsigned long kSourceId = 193894;
constexpr DWORD kPayloadLen = 1024;
constexpr int kK = 16;
constexpr int kN = 255;
constexpr unsigned long kBytesPerSec = 40000000 / 8;
constexpr std::size_t kFileLen = 20u << 20;
// What the sender's limiter charges a datagram: header, payload, IP and UDP.
constexpr double kChargeBytes = 24 + kPayloadLen + CMulticast::kDatagramOverheadBytes;

}  // namespace pelago_bench
