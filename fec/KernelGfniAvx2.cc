// Affine kernel with GFNI in 256-bit VEX encoding, for processors with GFNI
// but without AVX-512. Built with -mavx2 -mgfni.
#include <immintrin.h>

#include <cstdint>

#include "fec/GfTables.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

constexpr int kMaxDst = 4;

__m256i LoadU(const BYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void StoreU(BYTE* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

__m256i Product(__m256i x, std::uint64_t matrix) {
  return _mm256_gf2p8affine_epi64_epi8(x, _mm256_set1_epi64x(static_cast<long long>(matrix)), 0);
}

void MulAddGfni256(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  const GfTables& gf = Gf();
  const std::uint64_t m = gf.affine[c];
  std::size_t i = 0;
  for (; i + 64 <= len; i += 64) {
    const __m256i p0 = Product(LoadU(src + i), m);
    const __m256i p1 = Product(LoadU(src + i + 32), m);
    StoreU(dst + i, _mm256_xor_si256(LoadU(dst + i), p0));
    StoreU(dst + i + 32, _mm256_xor_si256(LoadU(dst + i + 32), p1));
  }
  for (; i + 32 <= len; i += 32) StoreU(dst + i, _mm256_xor_si256(LoadU(dst + i), Product(LoadU(src + i), m)));
  const BYTE* row = gf.mul[c];
  for (; i < len; ++i) dst[i] ^= row[src[i]];
}

template <int D, int V>
std::size_t DotRounds(BYTE* const* dsts, const BYTE* const* srcs, const std::uint64_t* mats,
                      int nSrc, std::size_t i, std::size_t len) {
  for (; i + 32 * V <= len; i += 32 * V) {
    __m256i acc[D][V];
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) acc[d][v] = _mm256_setzero_si256();
    }
    for (int s = 0; s < nSrc; ++s) {
      __m256i x[V];
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) x[v] = LoadU(srcs[s] + i + 32 * v);
#pragma GCC unroll 8
      for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) acc[d][v] = _mm256_xor_si256(acc[d][v], Product(x[v], mats[s * D + d]));
      }
    }
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) StoreU(dsts[d] + i + 32 * v, acc[d][v]);
    }
  }
  return i;
}

template <int D>
void DotProductN(BYTE* const* dsts, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                 std::size_t len) {
  constexpr int kV = D == 1 ? 4 : 2;
  const GfTables& gf = Gf();
  std::uint64_t mats[D * 256];
  for (int s = 0; s < nSrc; ++s) {
    for (int d = 0; d < D; ++d) mats[s * D + d] = gf.affine[coefs[d * nSrc + s]];
  }
  std::size_t i = DotRounds<D, kV>(dsts, srcs, mats, nSrc, 0, len);
  i = DotRounds<D, 1>(dsts, srcs, mats, nSrc, i, len);
  for (; i < len; ++i) {
    for (int d = 0; d < D; ++d) {
      BYTE acc = 0;
      for (int s = 0; s < nSrc; ++s) acc ^= gf.mul[coefs[d * nSrc + s]][srcs[s][i]];
      dsts[d][i] = acc;
    }
  }
}

void DotProductGfni256(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                       int nSrc, std::size_t len) {
  switch (nDst) {
    case 1: return DotProductN<1>(dsts, srcs, coefs, nSrc, len);
    case 2: return DotProductN<2>(dsts, srcs, coefs, nSrc, len);
    case 3: return DotProductN<3>(dsts, srcs, coefs, nSrc, len);
    default: return DotProductN<4>(dsts, srcs, coefs, nSrc, len);
  }
}

}  // namespace

const KernelOps kGfniAvx2Ops = {MulAddGfni256, DotProductGfni256, kMaxDst};

}  // namespace fec
