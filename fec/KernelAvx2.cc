// Split-nibble kernel for AVX2: as the SSSE3 kernel, 32 bytes per vector.
// Built with -mavx2.
#include <immintrin.h>

#include "fec/GfTables.h"
#include "fec/KernelLoops.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

struct Avx2 {
  using Vec = __m256i;
  struct Coef {
    __m256i lo, hi;
  };
  static constexpr std::size_t kBytes = 32;
  static constexpr bool kPrepareOnce = false;
  static constexpr bool kMaskedTail = false;

  static Vec Load(const BYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(BYTE* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static Vec Zero() { return _mm256_setzero_si256(); }

  static Coef Prepare(const GfTables& gf, BYTE c) {
    return {_mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c]))),
            _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c] + 16)))};
  }
  static Vec Product(const Coef& t, Vec x) {
    const __m256i mask = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_and_si256(x, mask);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi64(x, 4), mask);
    return _mm256_xor_si256(_mm256_shuffle_epi8(t.lo, lo), _mm256_shuffle_epi8(t.hi, hi));
  }
};

}  // namespace

const KernelOps kAvx2Ops = {LoopMulAdd<Avx2>, LoopDotProduct<Avx2>, kLoopMaxDst};

}  // namespace fec
