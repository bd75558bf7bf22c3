// The roles that the file carousel's lab tests run on lab hosts: a sender
// and receivers, ordered through files in a directory all hosts see.
#pragma once

#include <string>
#include <vector>

#include "tests/lab/Lab.h"

namespace pelago_lab {

// One receiver of a case.
struct tReceiver {
  float fLossPerc;
  bool fJoinMidRound;  // starts only once the sender is half through a round
};

// Runs one case: a sender on host 0 sends the file to a receiver on each of
// hosts 1..n, which check what they restored against the file; the test
// fails on any difference. nRate in bytes per second.
void RunCase(lab::Lab* pLab, const std::string& sFile, unsigned long dwRate,
             const std::vector<tReceiver>& receivers, unsigned dwTimeoutMs);

// In a child: runs its role. Call from the test body when lab::IsChild().
void RunChild();

// Writes a file of n pseudo-random bytes with a fixed last-write time.
std::string MakeSourceFile(const std::string& sDir, const std::string& sName, std::size_t n);

}  // namespace pelago_lab
