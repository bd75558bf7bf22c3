// Split-nibble kernel for SSSE3: each byte's low and high nibble index two
// 16-entry product tables through pshufb. Built with -mssse3.
#include <immintrin.h>

#include "fec/GfTables.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

constexpr int kMaxDst = 4;

struct Tables {
  __m128i lo, hi;
};

Tables Load(const GfTables& gf, BYTE c) {
  return {_mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c])),
          _mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c] + 16))};
}

__m128i Product(const Tables& t, __m128i x) {
  const __m128i mask = _mm_set1_epi8(0x0F);
  const __m128i lo = _mm_and_si128(x, mask);
  const __m128i hi = _mm_and_si128(_mm_srli_epi64(x, 4), mask);
  return _mm_xor_si128(_mm_shuffle_epi8(t.lo, lo), _mm_shuffle_epi8(t.hi, hi));
}

void MulAddSsse3(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  const GfTables& gf = Gf();
  const Tables t = Load(gf, c);
  std::size_t i = 0;
  for (; i + 32 <= len; i += 32) {
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
    __m128i* d0 = reinterpret_cast<__m128i*>(dst + i);
    __m128i* d1 = reinterpret_cast<__m128i*>(dst + i + 16);
    _mm_storeu_si128(d0, _mm_xor_si128(_mm_loadu_si128(d0), Product(t, x0)));
    _mm_storeu_si128(d1, _mm_xor_si128(_mm_loadu_si128(d1), Product(t, x1)));
  }
  for (; i + 16 <= len; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m128i* d = reinterpret_cast<__m128i*>(dst + i);
    _mm_storeu_si128(d, _mm_xor_si128(_mm_loadu_si128(d), Product(t, x)));
  }
  const BYTE* row = gf.mul[c];
  for (; i < len; ++i) dst[i] ^= row[src[i]];
}

__m128i LoadU(const BYTE* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
void StoreU(BYTE* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// D outputs, V vectors of 16 bytes each per round.
template <int D, int V>
std::size_t DotRounds(BYTE* const* dsts, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                      std::size_t i, std::size_t len) {
  const GfTables& gf = Gf();
  for (; i + 16 * V <= len; i += 16 * V) {
    __m128i acc[D][V];
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) acc[d][v] = _mm_setzero_si128();
    }
    for (int s = 0; s < nSrc; ++s) {
      __m128i x[V];
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) x[v] = LoadU(srcs[s] + i + 16 * v);
#pragma GCC unroll 8
      for (int d = 0; d < D; ++d) {
        const Tables t = Load(gf, coefs[d * nSrc + s]);
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) acc[d][v] = _mm_xor_si128(acc[d][v], Product(t, x[v]));
      }
    }
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) StoreU(dsts[d] + i + 16 * v, acc[d][v]);
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

void DotProductSsse3(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                     int nSrc, std::size_t len) {
  switch (nDst) {
    case 1: return DotProductN<1>(dsts, srcs, coefs, nSrc, len);
    case 2: return DotProductN<2>(dsts, srcs, coefs, nSrc, len);
    case 3: return DotProductN<3>(dsts, srcs, coefs, nSrc, len);
    default: return DotProductN<4>(dsts, srcs, coefs, nSrc, len);
  }
}

}  // namespace

const KernelOps kSsse3Ops = {MulAddSsse3, DotProductSsse3, kMaxDst};

}  // namespace fec
