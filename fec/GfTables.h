// Arithmetic tables of GF(2^8) over the polynomial x^8 + x^4 + x^3 + x^2 + 1
// (0x11D, generator 2), shared by the erasure coder and its block kernels.
// Built once per process on first use; read-only afterwards, so any thread may
// read them.
#pragma once

#include <cstdint>

#include "platform/Win32Types.h"

namespace fec {

struct GfTables {
  BYTE exp[510];       // exp[i] = 2^i, i = 0..254, repeated for 255..509
  BYTE log[256];       // log[exp[i]] = i; log[0] = 255
  BYTE inverse[256];   // inverse[0] = 0
  BYTE mul[256][256];  // mul[a][b] = a * b
  // Split-nibble tables: nibble[c][x] = c * x and nibble[c][16 + x] = c * (x << 4).
  alignas(64) BYTE nibble[256][32];
  // affine[c]: the 8x8 bit matrix of multiplication by c, laid out for the
  // processor's affine byte transform (row of result bit i in byte 7 - i).
  std::uint64_t affine[256];
};

// The tables, built on the first call (thread-safe).
const GfTables& Gf();

// x modulo 255 into 0..254, by the shift-and-add folding the coder uses.
int Modnn(int x);

// Checks the tables (log/exp round trip, x * inverse[x] = 1, zero row and
// column); reports each mismatch through ORV_ASSERT. TRUE when all hold.
BOOL CheckTables();

}  // namespace fec
