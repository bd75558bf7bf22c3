// Affine kernel with GFNI in 256-bit VEX encoding, for processors with GFNI
// but without AVX-512. Built with -mavx2 -mgfni.
#include <immintrin.h>

#include <cstdint>

#include "fec/GfTables.h"
#include "fec/KernelLoops.h"
#include "fec/KernelOps.h"

namespace fec {
namespace {

struct GfniAvx2 {
  using Vec = __m256i;
  using Coef = std::uint64_t;  // the affine matrix
  static constexpr std::size_t kBytes = 32;
  static constexpr bool kPrepareOnce = true;
  static constexpr bool kMaskedTail = false;

  static Vec Load(const BYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(BYTE* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static Vec Zero() { return _mm256_setzero_si256(); }

  static Coef Prepare(const GfTables& gf, BYTE c) { return gf.affine[c]; }
  static Vec Product(Coef matrix, Vec x) {
    return _mm256_gf2p8affine_epi64_epi8(x, _mm256_set1_epi64x(static_cast<long long>(matrix)), 0);
  }
};

}  // namespace

const KernelOps kGfniAvx2Ops = {LoopMulAdd<GfniAvx2>, LoopDotProduct<GfniAvx2>, kLoopMaxDst};

}  // namespace fec
