// Split-nibble kernel for SSSE3: each byte's low and high nibble index two
// 16-entry product tables through pshufb. Built with -mssse3.
#include <immintrin.h>

#include "fec/GfTables.h"
#include "fec/KernelLoops.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

struct Ssse3 {
  using Vec = __m128i;
  struct Coef {
    __m128i lo, hi;
  };
  static constexpr std::size_t kBytes = 16;
  static constexpr bool kPrepareOnce = false;
  static constexpr bool kMaskedTail = false;

  static Vec Load(const BYTE* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(BYTE* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
  static Vec Zero() { return _mm_setzero_si128(); }

  static Coef Prepare(const GfTables& gf, BYTE c) {
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c])),
            _mm_load_si128(reinterpret_cast<const __m128i*>(gf.nibble[c] + 16))};
  }
  static Vec Product(const Coef& t, Vec x) {
    const __m128i mask = _mm_set1_epi8(0x0F);
    const __m128i lo = _mm_and_si128(x, mask);
    const __m128i hi = _mm_and_si128(_mm_srli_epi64(x, 4), mask);
    return _mm_xor_si128(_mm_shuffle_epi8(t.lo, lo), _mm_shuffle_epi8(t.hi, hi));
  }
};

}  // namespace

const KernelOps kSsse3Ops = {LoopMulAdd<Ssse3>, LoopDotProduct<Ssse3>, kLoopMaxDst};

}  // namespace fec
