#include "fec/GfTables.h"

#include "platform/DebugOutput.h"

namespace fec {
namespace {

constexpr int kFieldMax = 255;  // number of non-zero elements
constexpr BYTE kPolyLow = 0x1D;  // x^4 + x^3 + x^2 + 1

void BuildExpLog(GfTables& t) {
  BYTE mask = 1;
  for (int i = 0; i < 8; ++i, mask = static_cast<BYTE>(mask << 1)) {
    t.exp[i] = mask;
    t.log[t.exp[i]] = static_cast<BYTE>(i);
  }
  t.exp[8] = kPolyLow;
  t.log[t.exp[8]] = 8;
  for (int i = 9; i < kFieldMax; ++i) {
    const BYTE prev = t.exp[i - 1];
    t.exp[i] = (prev & 0x80) ? static_cast<BYTE>(kPolyLow ^ static_cast<BYTE>(prev << 1))
                             : static_cast<BYTE>(prev << 1);
    t.log[t.exp[i]] = static_cast<BYTE>(i);
  }
  t.log[0] = kFieldMax;
  for (int i = 0; i < kFieldMax; ++i) t.exp[i + kFieldMax] = t.exp[i];
}

void BuildProducts(GfTables& t) {
  t.inverse[0] = 0;
  t.inverse[1] = 1;
  for (int x = 2; x < 256; ++x) t.inverse[x] = t.exp[kFieldMax - t.log[x]];
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      t.mul[a][b] = (a == 0 || b == 0) ? 0 : t.exp[Modnn(t.log[a] + t.log[b])];
    }
  }
  for (int c = 0; c < 256; ++c) {
    for (int x = 0; x < 16; ++x) {
      t.nibble[c][x] = t.mul[c][x];
      t.nibble[c][16 + x] = t.mul[c][x << 4];
    }
    // Column j of the matrix is c * 2^j; output bit i is row i.
    std::uint64_t m = 0;
    for (int i = 0; i < 8; ++i) {
      std::uint64_t row = 0;
      for (int j = 0; j < 8; ++j) {
        if ((t.mul[c][1 << j] >> i) & 1) row |= 1u << j;
      }
      m |= row << (8 * (7 - i));
    }
    t.affine[c] = m;
  }
}

GfTables* Build() {
  static GfTables tables;
  BuildExpLog(tables);
  BuildProducts(tables);
  return &tables;
}

}  // namespace

int Modnn(int x) {
  while (x >= kFieldMax) {
    x -= kFieldMax;
    x = (x >> 8) + (x & kFieldMax);
  }
  return x;
}

const GfTables& Gf() {
  static const GfTables* const built = Build();
  return *built;
}

BOOL CheckTables() {
  const GfTables& t = Gf();
  BOOL ok = TRUE;
  for (int i = 0; i < kFieldMax; ++i) {
    if (!ORV_ASSERT(t.log[t.exp[i]] == i)) ok = FALSE;
  }
  for (int x = 1; x < 256; ++x) {
    if (!ORV_ASSERT(t.exp[t.log[x]] == x)) ok = FALSE;
    if (!ORV_ASSERT(t.mul[x][t.inverse[x]] == 1)) ok = FALSE;
  }
  for (int x = 0; x < 256; ++x) {
    if (!ORV_ASSERT(t.mul[0][x] == 0 && t.mul[x][0] == 0)) ok = FALSE;
  }
  return ok;
}

}  // namespace fec
