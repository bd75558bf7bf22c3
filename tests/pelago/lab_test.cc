// One sender and three receivers on hosts of the namespace lab.
#include <gtest/gtest.h>

#include "tests/pelago/LabRoles.h"

using pelago_lab::RunCase;
using pelago_lab::tReceiver;

namespace {

constexpr unsigned long kFastBytesPerSec = 20000000;
const std::vector<tReceiver> kLossy = {{0, false}, {10, false}, {30, false}};

}  // namespace

TEST(PelagoLabTest, EverySizeReachesEveryReceiverUnderLoss) {
  if (lab::IsChild()) return pelago_lab::RunChild();
  ORVALO_LAB_START(theLab, 4);
  const std::string dir = lab::MakeSyncDir();
  // 1 byte; exactly one payload (976 bytes, the 8-character name and the
  // 48-byte trailer); several groups.
  for (auto [name, size] : {std::pair<const char*, std::size_t>{"one.bin", 1},
                            {"pay1.bin", 1024 - 48}, {"groups.bin", 300000}}) {
    RunCase(theLab.get(), pelago_lab::MakeSourceFile(dir, name, size), kFastBytesPerSec, kLossy,
            60000);
  }
  lab::RemoveTree(dir);
}

TEST(PelagoLabTest, AReceiverThatJoinsMidRound) {
  if (lab::IsChild()) return pelago_lab::RunChild();
  ORVALO_LAB_START(theLab, 4);
  const std::string dir = lab::MakeSyncDir();
  // Slow enough that the joiner comes in while the round goes on.
  RunCase(theLab.get(), pelago_lab::MakeSourceFile(dir, "late.bin", 2000000), 4000000,
          {{0, false}, {10, false}, {10, true}}, 60000);
  lab::RemoveTree(dir);
}
