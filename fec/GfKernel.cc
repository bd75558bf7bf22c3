// Chooses the block kernel once, from the processor's features.
#include "fec/GfKernel.h"

#include <atomic>

#include "fec/KernelOps.h"

namespace fec {
namespace {

const KernelOps* OpsOf(KernelLevel level) {
  switch (level) {
    case KernelLevel::kSsse3: return &kSsse3Ops;
    case KernelLevel::kAvx2: return &kAvx2Ops;
    case KernelLevel::kGfniAvx2: return &kGfniAvx2Ops;
    case KernelLevel::kGfniAvx512: return &kGfniAvx512Ops;
    case KernelLevel::kReference: break;
  }
  return &kReferenceOps;
}

bool CpuHas(KernelLevel level) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (level) {
    case KernelLevel::kReference: return true;
    case KernelLevel::kSsse3: return __builtin_cpu_supports("ssse3");
    case KernelLevel::kAvx2: return __builtin_cpu_supports("avx2");
    case KernelLevel::kGfniAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("gfni");
    case KernelLevel::kGfniAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("gfni");
  }
  return false;
#else
  return level == KernelLevel::kReference;
#endif
}

// Fastest first.
constexpr KernelLevel kPreference[] = {KernelLevel::kGfniAvx512, KernelLevel::kGfniAvx2,
                                       KernelLevel::kAvx2, KernelLevel::kSsse3,
                                       KernelLevel::kReference};

KernelLevel Best() {
  for (KernelLevel level : kPreference) {
    if (KernelSupported(level)) return level;
  }
  return KernelLevel::kReference;
}

struct Active {
  std::atomic<const KernelOps*> ops;
  std::atomic<KernelLevel> level;
};

Active& Current() {
  static Active active{OpsOf(Best()), Best()};
  return active;
}

}  // namespace

bool KernelSupported(KernelLevel level) {
  return OpsOf(level)->mulAdd != nullptr && CpuHas(level);
}

const char* KernelName(KernelLevel level) {
  switch (level) {
    case KernelLevel::kReference: return "reference";
    case KernelLevel::kSsse3: return "ssse3";
    case KernelLevel::kAvx2: return "avx2";
    case KernelLevel::kGfniAvx2: return "gfni-avx2";
    case KernelLevel::kGfniAvx512: return "gfni-avx512";
  }
  return "?";
}

KernelLevel ActiveKernel() { return Current().level.load(std::memory_order_relaxed); }

bool ForceKernel(KernelLevel level) {
  if (!KernelSupported(level)) return false;
  Current().ops.store(OpsOf(level), std::memory_order_relaxed);
  Current().level.store(level, std::memory_order_relaxed);
  return true;
}

void ResetKernel() {
  Current().ops.store(OpsOf(Best()), std::memory_order_relaxed);
  Current().level.store(Best(), std::memory_order_relaxed);
}

void MulAdd(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  if (c == 0 || len == 0) return;
  Current().ops.load(std::memory_order_relaxed)->mulAdd(dst, src, c, len);
}

void DotProduct(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                std::size_t len) {
  const KernelOps* ops = Current().ops.load(std::memory_order_relaxed);
  for (int d = 0; d < nDst; d += ops->maxDst) {
    const int n = nDst - d < ops->maxDst ? nDst - d : ops->maxDst;
    ops->dotProduct(dsts + d, n, srcs, coefs + static_cast<std::size_t>(d) * nSrc, nSrc, len);
  }
}

}  // namespace fec
