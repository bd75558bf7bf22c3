// Repairs across two lab hosts: a Korin sender as the system opens it
// (loopback off) and a raw peer on another host that loses packets on
// purpose and sends hand-made NACKs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "korin/KORINsender.h"
#include "tests/korin_sender/RawPeer.h"
#include "tests/lab/Lab.h"

namespace {

using korin_test::DataPacket;
using korin_test::RawPeer;

constexpr unsigned kStepMs = 20000;  // generous: each step takes milliseconds
constexpr DWORD kHoldOffMs = 600000;
constexpr const char* kGroup = "239.77.1.9";
constexpr WORD kPort = 24001;

std::vector<BYTE> PayloadOf(DWORD dwSeq) {
  std::vector<BYTE> payload((dwSeq * 71) % 900 + 1);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq * 5 + i);
  return payload;
}

std::string Sync(const char* szName) { return lab::ChildParam("sync") + "/" + szName; }

void SendRange(CKORINsender& sender, DWORD dwFirst, DWORD dwEnd) {
  for (DWORD s = dwFirst; s < dwEnd; ++s) {
    std::vector<BYTE> payload = PayloadOf(s);
    DWORD dwSeq = 0;
    ASSERT_GT(sender.Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE), 0);
    ASSERT_EQ(dwSeq, s);
  }
}

void RunSender() {
  CKORINsender sender;
  ASSERT_TRUE(sender.Open(4, kGroup, kPort, 1, kHoldOffMs));
  ASSERT_TRUE(lab::WaitForFile(Sync("peer-ready"), kStepMs));
  ASSERT_NO_FATAL_FAILURE(SendRange(sender, 4, 12));
  ASSERT_TRUE(lab::WaitForFile(Sync("raise"), kStepMs));
  ASSERT_TRUE(sender.SetLowWater(9));   // key low water stays 4
  ASSERT_TRUE(sender.SetLowWater(13));  // key low water 8: key 4 purged
  ASSERT_NO_FATAL_FAILURE(SendRange(sender, 12, 16));
  ASSERT_TRUE(lab::WaitForFile(Sync("done"), kStepMs));
}

DataPacket Next(RawPeer& peer) {
  std::optional<DataPacket> packet = peer.NextData(kStepMs / 1000);
  EXPECT_TRUE(packet.has_value()) << "nothing came";
  return packet.value_or(DataPacket{});
}

void RunPeer() {
  RawPeer peer;
  ASSERT_TRUE(peer.Open(kGroup, kPort, FALSE));
  lab::TouchFile(Sync("peer-ready"));
  std::vector<DataPacket> group;  // what arrived of key 4, minus 5 and 7
  for (DWORD s = 4; s < 12; ++s) {
    DataPacket packet = Next(peer);
    ASSERT_EQ(packet.header.Sequence, s);
    ASSERT_EQ(packet.payload, PayloadOf(s));
    if (s == 4 || s == 6) group.push_back(packet);
  }

  // A NACK for the complete key 4 gets parity 4 and 5, which rebuild the
  // lost packets with their exact lengths.
  ASSERT_TRUE(peer.SendNack({{{4, 2}, {4, 0}}}, 8, 0xF));
  for (int nIndex : {4, 5}) {
    DataPacket repair = Next(peer);
    EXPECT_EQ(repair.header.Key, 4u);
    EXPECT_EQ(repair.header.Index, nIndex);
    EXPECT_EQ(repair.header.Sequence, 7u);
    group.push_back(repair);
  }
  std::vector<std::vector<BYTE>> decoded = korin_test::DecodeGroup(4, group);
  ASSERT_EQ(decoded.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(decoded[i], PayloadOf(4 + i)) << i;

  // Within the hold-off of those two, asking 3 gets one; key 8's repair,
  // asked next, follows it.
  ASSERT_TRUE(peer.SendNack({{{4, 3}, {4, 0}}}, 8, 0xF));
  ASSERT_TRUE(peer.SendNack({{{8, 2}, {8, 0}}}, 8, 0x3));
  std::vector<std::pair<DWORD, int>> got;
  for (int i = 0; i < 3; ++i) {
    DataPacket repair = Next(peer);
    got.push_back({repair.header.Key, repair.header.Index});
  }
  EXPECT_EQ(got, (std::vector<std::pair<DWORD, int>>{{4, 6}, {8, 4}, {8, 5}}));

  lab::TouchFile(Sync("raise"));
  for (DWORD s = 12; s < 16; ++s) {
    DataPacket packet = Next(peer);
    ASSERT_EQ(packet.header.Sequence, s);
    EXPECT_EQ(packet.header.LowWater, 8u);
  }
  // Key 4 is below the key low water, key 400 was never sent: skipped. The
  // first repair to come is key 12's.
  ASSERT_TRUE(peer.SendNack({{{4, 2}, {4, 0}}, {{400, 1}, {400, 0}}}, 12, 0));
  ASSERT_TRUE(peer.SendNack({{{12, 1}, {12, 0}}}, 12, 0x7));
  DataPacket repair = Next(peer);
  EXPECT_EQ(repair.header.Key, 12u);
  EXPECT_EQ(repair.header.Index, 4);
  EXPECT_EQ(repair.header.LowWater, 8u);
  lab::TouchFile(Sync("done"));
}

TEST(KorinRepairLabTest, PeerOnAnotherHostGetsRepairs) {
  if (lab::IsChild()) {
    if (lab::ChildRole() == "sender") {
      RunSender();
    } else {
      RunPeer();
      if (::testing::Test::HasFailure()) lab::TouchFile(Sync("done"));
    }
    return;
  }
  ORVALO_LAB_START(theLab, 2);
  std::string sSync = lab::MakeSyncDir();
  std::map<std::string, std::string> params = {{"sync", sSync}};
  lab::ChildId peer = theLab->StartSelf(1, "peer", params);
  lab::ChildId sender = theLab->StartSelf(0, "sender", params);
  lab::Result p = theLab->Wait(peer, 4 * kStepMs);
  lab::Result s = theLab->Wait(sender, 4 * kStepMs);
  EXPECT_EQ(p.nExitCode, 0) << p.sOutput;
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  lab::RemoveTree(sSync);
}

}  // namespace
