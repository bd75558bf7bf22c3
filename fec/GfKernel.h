// Block arithmetic over GF(2^8) for the erasure coder: dst ^= c * src and the
// dot product of many source blocks with coefficient rows, with the fastest
// kernel the processor supports chosen once per process. Every kernel gives
// the same bytes as the portable table kernel, which is always available.
// Thread-safe, except that ForceKernel is for single-threaded tests.
#pragma once

#include <cstddef>

#include "platform/Win32Types.h"

namespace fec {

enum class KernelLevel {
  kReference,  // table look-up, any processor
  kSsse3,      // split-nibble shuffles, 16 bytes
  kAvx2,       // split-nibble shuffles, 32 bytes
  kGfniAvx2,   // affine byte transform, 32 bytes
  kGfniAvx512, // affine byte transform, 64 bytes
};
inline constexpr int kKernelLevelCount = 5;

// dst[0..len) ^= c * src[0..len). The blocks must not overlap unless equal.
void MulAdd(BYTE* dst, const BYTE* src, BYTE c, std::size_t len);

// For d < nDst: dsts[d][0..len) = sum over s < nSrc of coefs[d * nSrc + s] * srcs[s][0..len).
// nSrc = 0 clears the outputs. Outputs must not overlap the sources.
void DotProduct(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                std::size_t len);

// Whether this processor (and this build) can run `level`.
bool KernelSupported(KernelLevel level);
const char* KernelName(KernelLevel level);
// The kernel in use.
KernelLevel ActiveKernel();

// Test seam: uses `level` from now on; false (and no change) when unsupported.
bool ForceKernel(KernelLevel level);
// Returns to the automatic choice.
void ResetKernel();

}  // namespace fec
