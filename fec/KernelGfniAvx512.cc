// Affine kernel for AVX-512 with GFNI: multiplication by c is an 8x8 bit
// matrix, applied to 64 bytes at once by vgf2p8affineqb; the ragged end is a
// masked load and store. Built with -mavx512f -mavx512bw -mgfni.
#include <immintrin.h>

#include <cstdint>

#include "fec/GfTables.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

constexpr int kMaxDst = 4;

__m512i Product(__m512i x, std::uint64_t matrix) {
  return _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(matrix)), 0);
}

__mmask64 TailMask(std::size_t n) { return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1; }

void MulAddGfni512(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  const __m512i m = _mm512_set1_epi64(static_cast<long long>(Gf().affine[c]));
  std::size_t i = 0;
  for (; i + 128 <= len; i += 128) {
    const __m512i p0 = _mm512_gf2p8affine_epi64_epi8(_mm512_loadu_si512(src + i), m, 0);
    const __m512i p1 = _mm512_gf2p8affine_epi64_epi8(_mm512_loadu_si512(src + i + 64), m, 0);
    _mm512_storeu_si512(dst + i, _mm512_xor_si512(_mm512_loadu_si512(dst + i), p0));
    _mm512_storeu_si512(dst + i + 64, _mm512_xor_si512(_mm512_loadu_si512(dst + i + 64), p1));
  }
  for (; i < len; i += 64) {
    const __mmask64 k = TailMask(len - i);
    const __m512i p = _mm512_gf2p8affine_epi64_epi8(_mm512_maskz_loadu_epi8(k, src + i), m, 0);
    _mm512_mask_storeu_epi8(dst + i, k, _mm512_xor_si512(_mm512_maskz_loadu_epi8(k, dst + i), p));
  }
}

// D outputs, V vectors of 64 bytes per round; mats[s * D + d] is the matrix
// of coefficient (d, s).
template <int D, int V>
std::size_t DotRounds(BYTE* const* dsts, const BYTE* const* srcs, const std::uint64_t* mats,
                      int nSrc, std::size_t i, std::size_t len) {
  for (; i + 64 * V <= len; i += 64 * V) {
    __m512i acc[D][V];
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) acc[d][v] = _mm512_setzero_si512();
    }
    for (int s = 0; s < nSrc; ++s) {
      __m512i x[V];
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) x[v] = _mm512_loadu_si512(srcs[s] + i + 64 * v);
#pragma GCC unroll 8
      for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) {
          acc[d][v] = _mm512_xor_si512(acc[d][v], Product(x[v], mats[s * D + d]));
        }
      }
    }
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) _mm512_storeu_si512(dsts[d] + i + 64 * v, acc[d][v]);
    }
  }
  return i;
}

template <int D>
void DotTail(BYTE* const* dsts, const BYTE* const* srcs, const std::uint64_t* mats, int nSrc,
             std::size_t i, std::size_t len) {
  if (i >= len) return;
  const __mmask64 k = TailMask(len - i);
  __m512i acc[D];
#pragma GCC unroll 8
  for (int d = 0; d < D; ++d) acc[d] = _mm512_setzero_si512();
  for (int s = 0; s < nSrc; ++s) {
    const __m512i x = _mm512_maskz_loadu_epi8(k, srcs[s] + i);
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) acc[d] = _mm512_xor_si512(acc[d], Product(x, mats[s * D + d]));
  }
#pragma GCC unroll 8
  for (int d = 0; d < D; ++d) _mm512_mask_storeu_epi8(dsts[d] + i, k, acc[d]);
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
  DotTail<D>(dsts, srcs, mats, nSrc, i, len);
}

// One output from a fixed number of sources, the matrices held in registers:
// the shape of one parity block from a small group.
template <int NS>
void DotProductFixed(BYTE* dst, const BYTE* const* srcs, const BYTE* coefs, std::size_t len) {
  const GfTables& gf = Gf();
  __m512i m[NS];
  const BYTE* p[NS];
#pragma GCC unroll 16
  for (int s = 0; s < NS; ++s) {
    m[s] = _mm512_set1_epi64(static_cast<long long>(gf.affine[coefs[s]]));
    p[s] = srcs[s];
  }
  constexpr int kV = 4;
  std::size_t i = 0;
  for (; i + 64 * kV <= len; i += 64 * kV) {
    __m512i acc[kV];
#pragma GCC unroll 4
    for (int v = 0; v < kV; ++v) {
      acc[v] = _mm512_gf2p8affine_epi64_epi8(_mm512_loadu_si512(p[0] + i + 64 * v), m[0], 0);
    }
#pragma GCC unroll 16
    for (int s = 1; s < NS; ++s) {
#pragma GCC unroll 4
      for (int v = 0; v < kV; ++v) {
        acc[v] = _mm512_xor_si512(
            acc[v], _mm512_gf2p8affine_epi64_epi8(_mm512_loadu_si512(p[s] + i + 64 * v), m[s], 0));
      }
    }
#pragma GCC unroll 4
    for (int v = 0; v < kV; ++v) _mm512_storeu_si512(dst + i + 64 * v, acc[v]);
  }
  for (; i < len; i += 64) {
    const __mmask64 k = TailMask(len - i);
    __m512i acc = _mm512_gf2p8affine_epi64_epi8(_mm512_maskz_loadu_epi8(k, p[0] + i), m[0], 0);
#pragma GCC unroll 16
    for (int s = 1; s < NS; ++s) {
      acc = _mm512_xor_si512(acc, _mm512_gf2p8affine_epi64_epi8(_mm512_maskz_loadu_epi8(k, p[s] + i), m[s], 0));
    }
    _mm512_mask_storeu_epi8(dst + i, k, acc);
  }
}

template <int... NS>
bool DotProductSmall(int nSrc, BYTE* dst, const BYTE* const* srcs, const BYTE* coefs,
                     std::size_t len) {
  return ((nSrc == NS ? (DotProductFixed<NS>(dst, srcs, coefs, len), true) : false) || ...);
}

void DotProductGfni512(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                       int nSrc, std::size_t len) {
  if (nDst == 1 &&
      DotProductSmall<1, 2, 3, 4, 5, 6, 7, 8>(nSrc, dsts[0], srcs, coefs, len)) {
    return;
  }
  switch (nDst) {
    case 1: return DotProductN<1>(dsts, srcs, coefs, nSrc, len);
    case 2: return DotProductN<2>(dsts, srcs, coefs, nSrc, len);
    case 3: return DotProductN<3>(dsts, srcs, coefs, nSrc, len);
    default: return DotProductN<4>(dsts, srcs, coefs, nSrc, len);
  }
}

}  // namespace

const KernelOps kGfniAvx512Ops = {MulAddGfni512, DotProductGfni512, kMaxDst};

}  // namespace fec
