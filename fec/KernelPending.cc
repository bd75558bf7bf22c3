// Vector kernels not built yet.
#include "fec/KernelOps.h"

namespace fec {
const KernelOps kSsse3Ops = {nullptr, nullptr, 1};
const KernelOps kAvx2Ops = {nullptr, nullptr, 1};
const KernelOps kGfniAvx2Ops = {nullptr, nullptr, 1};
const KernelOps kGfniAvx512Ops = {nullptr, nullptr, 1};
}  // namespace fec
