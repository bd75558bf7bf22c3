// The portable kernel: one row of the multiplication table per coefficient,
// 16 bytes per round, then the rest byte by byte.
#include <cstring>

#include "fec/GfTables.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

void MulAddRef(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  if (c == 0) return;
  const BYTE* row = Gf().mul[c];
  std::size_t i = 0;
  // Each round reads its 16 source bytes before writing any, so that a store
  // never sits between a load and the loads that follow it.
  for (; i + 16 <= len; i += 16) {
    BYTE s[16];
    BYTE d[16];
    std::memcpy(s, src + i, 16);
    std::memcpy(d, dst + i, 16);
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) d[j] ^= row[s[j]];
    std::memcpy(dst + i, d, 16);
  }
  for (; i < len; ++i) dst[i] ^= row[src[i]];
}

void DotProductRef(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                   int nSrc, std::size_t len) {
  for (int d = 0; d < nDst; ++d) {
    if (len != 0) std::memset(dsts[d], 0, len);
    for (int s = 0; s < nSrc; ++s) MulAddRef(dsts[d], srcs[s], coefs[d * nSrc + s], len);
  }
}

}  // namespace

const KernelOps kReferenceOps = {MulAddRef, DotProductRef, 1};

}  // namespace fec
