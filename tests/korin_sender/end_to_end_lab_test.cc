// Sender and receiver on two lab hosts, with datagrams lost at the receiver:
// NACKs and the sender's repairs bring every reliable packet through.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "korin/EpochSender.h"
#include "korin/KORINreceiver.h"
#include "platform/Thread.h"
#include "tests/lab/Lab.h"

namespace {

constexpr unsigned kStepMs = 20000;
constexpr const char* kGroup = "239.77.2.9";
constexpr WORD kPort = 24002;
constexpr DWORD kFirstSeq = 4;
constexpr DWORD kCount = 60;

std::vector<BYTE> PayloadOf(DWORD dwSeq) {
  std::vector<BYTE> payload((dwSeq * 131) % 1200 + 1);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq * 7 + i);
  return payload;
}

std::string Sync(const char* szName) { return lab::ChildParam("sync") + "/" + szName; }

void RunSender() {
  CEpochSender sender;
  // A short hold-off, so that a lost repair is soon sent again.
  ASSERT_TRUE(sender.Open(4, kGroup, kPort, 1, 200));
  ASSERT_TRUE(lab::WaitForFile(Sync("receiver-ready"), kStepMs));
  IEpochSender* pSender = &sender;
  for (DWORD s = kFirstSeq; s < kFirstSeq + kCount; ++s) {
    ASSERT_TRUE(pSender->SetEpoch(63, 3));
    std::vector<BYTE> payload = PayloadOf(s);
    DWORD dwSeq = 0;
    ASSERT_GT(pSender->Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE), 0);
    ASSERT_EQ(dwSeq, s);
  }
  // Heartbeats carry the last sequence, so that a lost tail is noticed.
  for (int i = 0; i < 400 && !lab::WaitForFile(Sync("done"), 50); ++i) {
    ASSERT_GT(pSender->SendUnreliable(reinterpret_cast<const BYTE*>("hb"), 2), 0);
  }
}

void RunReceiver() {
  CKORINreceiver receiver(50, 300, 3);
  ASSERT_TRUE(receiver.Open(4, kGroup, kPort, 1));
  ASSERT_TRUE(receiver.GetPort()->SetRcvSimLoss(15));
  lab::TouchFile(Sync("receiver-ready"));
  std::map<DWORD, std::vector<BYTE>> got;
  std::vector<BYTE> buf(receiver.GetMaxPacketSize());
  while (got.size() < kCount) {
    ASSERT_EQ(receiver.Wait(kStepMs / 1000, 0), 1) << "stuck with " << got.size();
    DWORD dwBytes = 0, dwSeq = 0, dwLowWater = 0;
    BOOL fReliable = FALSE;
    ASSERT_EQ(receiver.Receive(buf.data(), static_cast<DWORD>(buf.size()), &dwBytes, &dwSeq,
                               &dwLowWater, &fReliable),
              0);
    if (!fReliable) continue;
    ASSERT_GE(dwSeq, kFirstSeq);
    ASSERT_LT(dwSeq, kFirstSeq + kCount);
    std::vector<BYTE> packet(buf.begin(), buf.begin() + dwBytes);
    ASSERT_EQ(packet, PayloadOf(dwSeq)) << dwSeq;  // repeats must be equal too
    got[dwSeq] = packet;
  }
  lab::TouchFile(Sync("done"));
}

TEST(KorinEndToEndLabTest, LossesAreRepaired) {
  if (lab::IsChild()) {
    if (lab::ChildRole() == "sender") {
      RunSender();
    } else {
      RunReceiver();
      if (::testing::Test::HasFailure()) lab::TouchFile(Sync("done"));
    }
    return;
  }
  ORVALO_LAB_START(theLab, 2);
  std::string sSync = lab::MakeSyncDir();
  std::map<std::string, std::string> params = {{"sync", sSync}};
  lab::ChildId receiver = theLab->StartSelf(1, "receiver", params);
  lab::ChildId sender = theLab->StartSelf(0, "sender", params);
  lab::Result r = theLab->Wait(receiver, 3 * kStepMs);
  lab::Result s = theLab->Wait(sender, 3 * kStepMs);
  EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  lab::RemoveTree(sSync);
}

}  // namespace
