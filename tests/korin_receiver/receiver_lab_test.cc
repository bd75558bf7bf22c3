// End to end across lab hosts: one epoch sender, five receivers with 10
// percent simulated receive loss each.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/korin_receiver/KorinLab.h"
#include "tests/lab/Lab.h"

namespace {

constexpr int kReceivers = 5;
constexpr unsigned kChildTimeoutMs = 90000;  // generous: sanitizers, ctest -j8

std::string Param(const std::string& sName) { return lab::ChildParam(sName); }

TEST(KorinReceiverLab, EveryReliablePacketReachesEveryLossyReceiver) {
  if (lab::IsChild()) {
    const std::string sRole = lab::ChildRole();
    const std::string sError = sRole == "sender" ? korin_lab::RunSender(Param)
                                                 : korin_lab::RunReceiver(Param);
    EXPECT_EQ(sError, "") << sRole;
    return;
  }
  ORVALO_LAB_START(theLab, kReceivers + 1);
  const std::string sSync = lab::MakeSyncDir();
  std::map<std::string, std::string> params = {
      {"group", "239.71.3.5"}, {"port", "24711"},      {"sync", sSync},
      {"receivers", std::to_string(kReceivers)},       {"packets", "240"},
      {"epochpackets", "8"},   {"rate", "1000000"},    {"holdoff", "300"},
      {"nackmin", "20"},       {"nackmax", "200"},     {"recvloss", "10"},
      {"timeoutms", std::to_string(kChildTimeoutMs)},
  };
  std::vector<lab::ChildId> receivers;
  for (int i = 0; i < kReceivers; ++i) {
    params["index"] = std::to_string(i);
    receivers.push_back(theLab->StartSelf(i + 1, "receiver", params));
  }
  lab::ChildId sender = theLab->StartSelf(0, "sender", params);

  lab::Result s = theLab->Wait(sender, kChildTimeoutMs + 30000);
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  DWORD dwLostTotal = 0;
  for (lab::ChildId id : receivers) {
    lab::Result r = theLab->Wait(id, kChildTimeoutMs + 30000);
    EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
    std::map<std::string, double> f = korin_lab::Figures(r.sOutput, "RECEIVER");
    EXPECT_EQ(f["got"], 240 + 4 * 8) << r.sOutput;
    EXPECT_EQ(f["lowwater"], 4 + 240) << "the low water passed the main stream";
    EXPECT_LT(f["closems"], 5000) << "the I/O thread stops promptly";
    dwLostTotal += static_cast<DWORD>(f["lost"]);
  }
  EXPECT_GT(dwLostTotal, 0u) << "losses happened and were repaired";
  lab::RemoveTree(sSync);
}

}  // namespace
