// Split-nibble kernel for AVX2: as the SSSE3 kernel, 32 bytes per vector.
// Built with -mavx2.
#include <immintrin.h>

#include "fec/GfTables.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

constexpr int kMaxDst = 4;

struct Tables {
  __m256i lo, hi;
};

Tables Load(const GfTables& gf, BYTE c) {
  return {_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c]))),
          _mm256_broadcastsi128_si256(
              _mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c] + 16)))};
}

__m256i Product(const Tables& t, __m256i x) {
  const __m256i mask = _mm256_set1_epi8(0x0F);
  const __m256i lo = _mm256_and_si256(x, mask);
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi64(x, 4), mask);
  return _mm256_xor_si256(_mm256_shuffle_epi8(t.lo, lo), _mm256_shuffle_epi8(t.hi, hi));
}

__m256i LoadU(const BYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void StoreU(BYTE* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

void MulAddAvx2(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  const GfTables& gf = Gf();
  const Tables t = Load(gf, c);
  std::size_t i = 0;
  for (; i + 64 <= len; i += 64) {
    const __m256i p0 = Product(t, LoadU(src + i));
    const __m256i p1 = Product(t, LoadU(src + i + 32));
    StoreU(dst + i, _mm256_xor_si256(LoadU(dst + i), p0));
    StoreU(dst + i + 32, _mm256_xor_si256(LoadU(dst + i + 32), p1));
  }
  for (; i + 32 <= len; i += 32) StoreU(dst + i, _mm256_xor_si256(LoadU(dst + i), Product(t, LoadU(src + i))));
  const BYTE* row = gf.mul[c];
  for (; i < len; ++i) dst[i] ^= row[src[i]];
}

// D outputs, V vectors of 32 bytes each per round.
template <int D, int V>
std::size_t DotRounds(BYTE* const* dsts, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                      std::size_t i, std::size_t len) {
  const GfTables& gf = Gf();
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
        const Tables t = Load(gf, coefs[d * nSrc + s]);
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) acc[d][v] = _mm256_xor_si256(acc[d][v], Product(t, x[v]));
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
  std::size_t i = DotRounds<D, kV>(dsts, srcs, coefs, nSrc, 0, len);
  i = DotRounds<D, 1>(dsts, srcs, coefs, nSrc, i, len);
  const GfTables& gf = Gf();
  for (; i < len; ++i) {
    for (int d = 0; d < D; ++d) {
      BYTE acc = 0;
      for (int s = 0; s < nSrc; ++s) acc ^= gf.mul[coefs[d * nSrc + s]][srcs[s][i]];
      dsts[d][i] = acc;
    }
  }
}

void DotProductAvx2(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                    int nSrc, std::size_t len) {
  switch (nDst) {
    case 1: return DotProductN<1>(dsts, srcs, coefs, nSrc, len);
    case 2: return DotProductN<2>(dsts, srcs, coefs, nSrc, len);
    case 3: return DotProductN<3>(dsts, srcs, coefs, nSrc, len);
    default: return DotProductN<4>(dsts, srcs, coefs, nSrc, len);
  }
}

}  // namespace

const KernelOps kAvx2Ops = {MulAddAvx2, DotProductAvx2, kMaxDst};

}  // namespace fec
