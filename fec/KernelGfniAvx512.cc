// Affine kernel for AVX-512 with GFNI: multiplication by c is an 8x8 bit
// matrix, applied to 64 bytes at once by vgf2p8affineqb; the ragged end is a
// masked load and store. Built with -mavx512f -mavx512bw -mgfni.
#include <immintrin.h>

#include <cstdint>

#include "fec/GfTables.h"
#include "fec/KernelLoops.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

struct GfniAvx512 {
  using Vec = __m512i;
  using Coef = std::uint64_t;  // the affine matrix
  using Mask = __mmask64;
  static constexpr std::size_t kBytes = 64;
  static constexpr bool kPrepareOnce = true;
  static constexpr bool kMaskedTail = true;

  static Vec Load(const BYTE* p) { return _mm512_loadu_si512(p); }
  static void Store(BYTE* p, Vec v) { _mm512_storeu_si512(p, v); }
  static Vec Xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
  static Vec Zero() { return _mm512_setzero_si512(); }
  static Mask TailMask(std::size_t n) { return n >= 64 ? ~Mask{0} : (Mask{1} << n) - 1; }
  static Vec LoadMasked(Mask k, const BYTE* p) { return _mm512_maskz_loadu_epi8(k, p); }
  static void StoreMasked(BYTE* p, Mask k, Vec v) { _mm512_mask_storeu_epi8(p, k, v); }

  static Coef Prepare(const GfTables& gf, BYTE c) { return gf.affine[c]; }
  static Vec Product(Coef matrix, Vec x) {
    return _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(matrix)), 0);
  }
};

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
    const __mmask64 k = GfniAvx512::TailMask(len - i);
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
  LoopDotProduct<GfniAvx512>(dsts, nDst, srcs, coefs, nSrc, len);
}

}  // namespace

const KernelOps kGfniAvx512Ops = {LoopMulAdd<GfniAvx512>, DotProductGfni512, kLoopMaxDst};

}  // namespace fec
