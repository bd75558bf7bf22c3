// The loop structure the vector block kernels share, as templates over a
// kernel's vector operations. Private to the fec library: each kernel file
// includes it and instantiates it with its own ops type.
//
// Everything here lives in an anonymous namespace, so every file that includes
// it gets its own copies, compiled with that file's target flags. Nothing from
// here may gain external linkage: the linker could then pick a copy built for a
// wider target than the processor running it.
//
// An ops type provides:
//   Vec, Coef                  a vector, and a coefficient ready for Product
//   kBytes                     bytes per vector
//   kPrepareOnce               prepare each dot product coefficient once per
//                              call (else from the tables inside the loop)
//   kMaskedTail                the ragged end as a masked vector (needs Mask,
//                              TailMask, LoadMasked, StoreMasked); else vector
//                              rounds, then bytes through the table
//   Load, Store, Xor, Zero     unaligned vector access and arithmetic
//   Prepare(gf, c), Product(coef, x)   c * x for every byte of x
#pragma once

#include <cstddef>

#include "fec/GfTables.h"
#include "platform/Win32Types.h"

namespace fec {
namespace {

// The coefficient of output d and source s, for D outputs.
template <class Ops, int D, bool Once = Ops::kPrepareOnce>
class CoefGrid;

// Two pointers, so passed by value in registers.
template <class Ops, int D>
class CoefGrid<Ops, D, false> {
 public:
  using Pass = CoefGrid;
  CoefGrid(const GfTables& gf, const BYTE* coefs, int) : gf_(&gf), coefs_(coefs) {}
  typename Ops::Coef At(int d, int s, int nSrc) const {
    return Ops::Prepare(*gf_, coefs_[d * nSrc + s]);
  }

 private:
  const GfTables* gf_;
  const BYTE* coefs_;
};

template <class Ops, int D>
class CoefGrid<Ops, D, true> {
 public:
  using Pass = const CoefGrid&;
  CoefGrid(const GfTables& gf, const BYTE* coefs, int nSrc) {
    for (int s = 0; s < nSrc; ++s) {
      for (int d = 0; d < D; ++d) prepared_[s * D + d] = Ops::Prepare(gf, coefs[d * nSrc + s]);
    }
  }
  typename Ops::Coef At(int d, int s, int) const { return prepared_[s * D + d]; }

 private:
  typename Ops::Coef prepared_[D * 256];  // [s * D + d]
};

// dst[0..len) ^= c * src[0..len), two vectors per round.
template <class Ops>
void LoopMulAdd(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  using Vec = typename Ops::Vec;
  constexpr std::size_t kW = Ops::kBytes;
  const GfTables& gf = Gf();
  const typename Ops::Coef t = Ops::Prepare(gf, c);
  std::size_t i = 0;
  for (; i + 2 * kW <= len; i += 2 * kW) {
    const Vec p0 = Ops::Product(t, Ops::Load(src + i));
    const Vec p1 = Ops::Product(t, Ops::Load(src + i + kW));
    Ops::Store(dst + i, Ops::Xor(Ops::Load(dst + i), p0));
    Ops::Store(dst + i + kW, Ops::Xor(Ops::Load(dst + i + kW), p1));
  }
  if constexpr (Ops::kMaskedTail) {
    for (; i < len; i += kW) {
      const typename Ops::Mask k = Ops::TailMask(len - i);
      const Vec p = Ops::Product(t, Ops::LoadMasked(k, src + i));
      Ops::StoreMasked(dst + i, k, Ops::Xor(Ops::LoadMasked(k, dst + i), p));
    }
  } else {
    for (; i + kW <= len; i += kW) {
      Ops::Store(dst + i, Ops::Xor(Ops::Load(dst + i), Ops::Product(t, Ops::Load(src + i))));
    }
    const BYTE* row = gf.mul[c];
    for (; i < len; ++i) dst[i] ^= row[src[i]];
  }
}

// D outputs, V vectors each per round; returns where the rounds stopped.
template <class Ops, int D, int V>
std::size_t DotRounds(BYTE* const* dsts, const BYTE* const* srcs,
                      typename CoefGrid<Ops, D>::Pass grid, int nSrc, std::size_t i,
                      std::size_t len) {
  using Vec = typename Ops::Vec;
  constexpr std::size_t kW = Ops::kBytes;
  for (; i + kW * V <= len; i += kW * V) {
    Vec acc[D][V];
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) acc[d][v] = Ops::Zero();
    }
    for (int s = 0; s < nSrc; ++s) {
      Vec x[V];
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) x[v] = Ops::Load(srcs[s] + i + kW * v);
#pragma GCC unroll 8
      for (int d = 0; d < D; ++d) {
        const typename Ops::Coef t = grid.At(d, s, nSrc);
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) acc[d][v] = Ops::Xor(acc[d][v], Ops::Product(t, x[v]));
      }
    }
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v) Ops::Store(dsts[d] + i + kW * v, acc[d][v]);
    }
  }
  return i;
}

// The last partial vector of D outputs, as one masked round.
template <class Ops, int D>
void DotMaskedTail(BYTE* const* dsts, const BYTE* const* srcs,
                   typename CoefGrid<Ops, D>::Pass grid, int nSrc, std::size_t i,
                   std::size_t len) {
  using Vec = typename Ops::Vec;
  if (i >= len) return;
  const typename Ops::Mask k = Ops::TailMask(len - i);
  Vec acc[D];
#pragma GCC unroll 8
  for (int d = 0; d < D; ++d) acc[d] = Ops::Zero();
  for (int s = 0; s < nSrc; ++s) {
    const Vec x = Ops::LoadMasked(k, srcs[s] + i);
#pragma GCC unroll 8
    for (int d = 0; d < D; ++d) acc[d] = Ops::Xor(acc[d], Ops::Product(grid.At(d, s, nSrc), x));
  }
#pragma GCC unroll 8
  for (int d = 0; d < D; ++d) Ops::StoreMasked(dsts[d] + i, k, acc[d]);
}

// The bytes from i on of D outputs, through the multiplication table.
template <int D>
void DotByteTail(const GfTables& gf, BYTE* const* dsts, const BYTE* const* srcs, const BYTE* coefs,
                 int nSrc, std::size_t i, std::size_t len) {
  for (; i < len; ++i) {
    for (int d = 0; d < D; ++d) {
      BYTE acc = 0;
      for (int s = 0; s < nSrc; ++s) acc ^= gf.mul[coefs[d * nSrc + s]][srcs[s][i]];
      dsts[d][i] = acc;
    }
  }
}

template <class Ops, int D>
void DotProductN(BYTE* const* dsts, const BYTE* const* srcs, const BYTE* coefs, int nSrc,
                 std::size_t len) {
  constexpr int kV = D == 1 ? 4 : 2;
  const GfTables& gf = Gf();
  const CoefGrid<Ops, D> grid(gf, coefs, nSrc);
  std::size_t i = DotRounds<Ops, D, kV>(dsts, srcs, grid, nSrc, 0, len);
  i = DotRounds<Ops, D, 1>(dsts, srcs, grid, nSrc, i, len);
  if constexpr (Ops::kMaskedTail) {
    DotMaskedTail<Ops, D>(dsts, srcs, grid, nSrc, i, len);
  } else {
    DotByteTail<D>(gf, dsts, srcs, coefs, nSrc, i, len);
  }
}

// As DotProduct, for 1 <= nDst <= kLoopMaxDst.
inline constexpr int kLoopMaxDst = 4;

template <class Ops>
void LoopDotProduct(BYTE* const* dsts, int nDst, const BYTE* const* srcs, const BYTE* coefs,
                    int nSrc, std::size_t len) {
  switch (nDst) {
    case 1: return DotProductN<Ops, 1>(dsts, srcs, coefs, nSrc, len);
    case 2: return DotProductN<Ops, 2>(dsts, srcs, coefs, nSrc, len);
    case 3: return DotProductN<Ops, 3>(dsts, srcs, coefs, nSrc, len);
    default: return DotProductN<Ops, 4>(dsts, srcs, coefs, nSrc, len);
  }
}

}  // namespace
}  // namespace fec
