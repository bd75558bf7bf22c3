// The file carousel's own limit: how long the carousel must send, at its set
// rate, until receivers that each lose datagrams independently with
// probability p all hold k blocks of every group. The carousel sends block
// index 0 of every group, then index 1 of every group, and so on, so group g's
// blocks come at datagrams g, g + G, g + 2G, ... (G groups).
#pragma once

#include <cmath>

namespace pelago_bench {

// P(a group holds k blocks after t passes): P(Binomial(t, 1 - p) >= k).
inline double GroupDone(int t, int k, double p) {
  if (t < k) return 0.0;
  if (p <= 0.0) return 1.0;
  double below = 0.0;  // P(Binomial < k)
  for (int i = 0; i < k; ++i) {
    const double logC = std::lgamma(t + 1.0) - std::lgamma(i + 1.0) - std::lgamma(t - i + 1.0);
    below += std::exp(logC + i * std::log(1 - p) + (t - i) * std::log(p));
  }
  return 1.0 - below;
}

// Expected datagrams, in passes (one block index across all groups), until
// the last of nReceivers receivers holds k blocks of each of nGroups groups.
// Without loss that is exactly k passes.
inline double ExpectedPasses(int nGroups, int k, double p, int nReceivers) {
  double datagrams = 0.0;
  for (int t = 0; t < 4000; ++t) {
    const double ft = GroupDone(t, k, p), ft1 = GroupDone(t + 1, k, p);
    // Datagram t*G + j: groups below j have had t + 1 passes, the rest t.
    for (int j = 0; j < nGroups; ++j) {
      const double whole = std::pow(ft1, j) * std::pow(ft, nGroups - j);
      datagrams += 1.0 - std::pow(whole, nReceivers);
    }
    if (std::pow(std::pow(ft, nGroups), nReceivers) > 1.0 - 1e-12) break;
  }
  return datagrams / nGroups;
}

// Expected whole passes until one receiver holds k blocks of each of nGroups
// groups.
inline double ExpectedWholePasses(int nGroups, int k, double p) {
  double passes = 0.0;
  for (int t = 0; t < 4000; ++t) {
    const double all = std::pow(GroupDone(t, k, p), nGroups);
    passes += 1.0 - all;
    if (all > 1.0 - 1e-12) break;
  }
  return passes;
}

}  // namespace pelago_bench
