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
  for (; i + 16 <= len; i += 16) {
    dst[i + 0] ^= row[src[i + 0]];
    dst[i + 1] ^= row[src[i + 1]];
    dst[i + 2] ^= row[src[i + 2]];
    dst[i + 3] ^= row[src[i + 3]];
    dst[i + 4] ^= row[src[i + 4]];
    dst[i + 5] ^= row[src[i + 5]];
    dst[i + 6] ^= row[src[i + 6]];
    dst[i + 7] ^= row[src[i + 7]];
    dst[i + 8] ^= row[src[i + 8]];
    dst[i + 9] ^= row[src[i + 9]];
    dst[i + 10] ^= row[src[i + 10]];
    dst[i + 11] ^= row[src[i + 11]];
    dst[i + 12] ^= row[src[i + 12]];
    dst[i + 13] ^= row[src[i + 13]];
    dst[i + 14] ^= row[src[i + 14]];
    dst[i + 15] ^= row[src[i + 15]];
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
