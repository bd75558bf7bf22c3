// The table of one block kernel, as the dispatcher sees it. Private to the
// fec library. Kernel files compiled for wider targets must not define inline
// functions or templates shared with other files, so each keeps its helpers
// (and its copy of the loops in KernelLoops.h) in an anonymous namespace and
// exposes only its table.
#pragma once

#include <cstddef>

#include "platform/Win32Types.h"

namespace fec {

struct KernelOps {
  void (*mulAdd)(BYTE* dst, const BYTE* src, BYTE c, std::size_t len);
  // As DotProduct, for 1 <= nDst <= maxDst.
  void (*dotProduct)(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                     int nSrc, std::size_t len);
  int maxDst;
};

extern const KernelOps kReferenceOps;
extern const KernelOps kSsse3Ops;
extern const KernelOps kAvx2Ops;
extern const KernelOps kGfniAvx2Ops;
extern const KernelOps kGfniAvx512Ops;

}  // namespace fec
