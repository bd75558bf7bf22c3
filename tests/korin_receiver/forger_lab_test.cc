// A forging host on the lab's LAN: during and after a bounded spray of forged
// and mutated datagrams, a genuine Korin stream reaches every lossy receiver
// whole, their memory stays bounded, and receivers and sender close promptly.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/korin_receiver/KorinLab.h"
#include "tests/lab/Lab.h"

namespace {

constexpr int kReceivers = 3;
constexpr unsigned kChildTimeoutMs = 90000;  // generous: sanitizers, ctest -j8

std::string Param(const std::string& sName) { return lab::ChildParam(sName); }

TEST(KorinForgerLab, GenuineStreamDeliversEveryPacketThroughASpray) {
  if (lab::IsChild()) {
    const std::string sRole = lab::ChildRole();
    const std::string sError = sRole == "sender"   ? korin_lab::RunSender(Param)
                               : sRole == "forger" ? korin_lab::RunForger(Param)
                                                   : korin_lab::RunReceiver(Param);
    EXPECT_EQ(sError, "") << sRole;
    return;
  }
  ORVALO_LAB_START(theLab, kReceivers + 2);
  const std::string sSync = lab::MakeSyncDir();
  std::map<std::string, std::string> params = {
      {"group", "239.71.4.9"},
      {"port", "24713"},
      {"sync", sSync},
      {"receivers", std::to_string(kReceivers)},
      {"packets", "240"},
      {"epochpackets", "8"},
      {"rate", "100000"},
      {"holdoff", "300"},
      {"nackmin", "20"},
      {"nackmax", "200"},
      {"recvloss", "5"},
      {"forgeries", "20000"},
      {"timeoutms", std::to_string(kChildTimeoutMs)},
  };
  std::vector<lab::ChildId> receivers;
  for (int i = 0; i < kReceivers; ++i) {
    params["index"] = std::to_string(i);
    receivers.push_back(theLab->StartSelf(i + 1, "receiver", params));
  }
  lab::ChildId forger = theLab->StartSelf(kReceivers + 1, "forger", params);
  lab::ChildId sender = theLab->StartSelf(0, "sender", params);

  lab::Result s = theLab->Wait(sender, kChildTimeoutMs + 30000);
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  EXPECT_LT(korin_lab::Figures(s.sOutput, "SENDER")["closems"], 1000) << s.sOutput;
  lab::Result f = theLab->Wait(forger, kChildTimeoutMs + 30000);
  EXPECT_EQ(f.nExitCode, 0) << f.sOutput;
  for (lab::ChildId id : receivers) {
    lab::Result r = theLab->Wait(id, kChildTimeoutMs + 30000);
    EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
    std::map<std::string, double> fig = korin_lab::Figures(r.sOutput, "RECEIVER");
    EXPECT_EQ(fig["got"], 240 + 5 * 8) << r.sOutput;
    EXPECT_LT(fig["closems"], 1000) << r.sOutput;
    EXPECT_LT(fig["rssgrowthkb"], 64 * 1024) << r.sOutput;
    EXPECT_GT(fig["forged"], 1000) << "the spray reached the receiver";
    EXPECT_EQ(fig["dropped"], 0) << "a reader that reads loses nothing";
  }
  lab::RemoveTree(sSync);
}

}  // namespace
