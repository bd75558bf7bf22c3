// A 20 MiB file to three receivers, one of them losing 30 percent, on hosts
// of the namespace lab.
#include <gtest/gtest.h>

#include "tests/pelago/LabRoles.h"

TEST(PelagoLabBigTest, TwentyMebibytesToThreeReceivers) {
  if (lab::IsChild()) return pelago_lab::RunChild();
  ORVALO_LAB_START(theLab, 4);
  const std::string dir = lab::MakeSyncDir();
  pelago_lab::RunCase(theLab.get(), pelago_lab::MakeSourceFile(dir, "big.cab", 20u << 20),
                      30000000, {{0, false}, {10, false}, {30, false}}, 120000);
  lab::RemoveTree(dir);
}
