// The Korin sender on one host: a raw peer on the loopback interface hears
// its datagrams and sends it NACKs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "korin/KORINsender.h"
#include "korin/SndrIOThread.h"
#include "platform/DebugOutput.h"
#include "tests/korin_sender/RawPeer.h"
#include "tests/mcast/TestGroup.h"

namespace {

using korin_test::DataPacket;
using korin_test::RawPeer;

constexpr DWORD kLongHoldOffMs = 600000;  // nothing here outlives it

std::vector<BYTE> PayloadOf(DWORD dwSeq) {
  std::vector<BYTE> payload((dwSeq * 53) % 200 + 1);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq + 3 * i);
  return payload;
}

class SenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    CKORINsender::SetLoopbackForTesting(TRUE);
    m_group = mcast_test::NextTestGroup();
  }
  void TearDown() override {
    m_pSender.reset();
    platform::SetDebugOutputHook({});
    CKORINsender::SetLoopbackForTesting(FALSE);
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  void OpenBoth(int nK, DWORD dwHoldOffMs = kLongHoldOffMs) {
    ASSERT_TRUE(m_peer.Open(m_group.sAddr.c_str(), m_group.wPort, TRUE));
    m_pSender = std::make_unique<CKORINsender>();
    ASSERT_TRUE(m_pSender->Open(nK, m_group.sAddr.c_str(), m_group.wPort, 1, dwHoldOffMs));
  }

  // Sends sequences reliably with PayloadOf and reads them back at the peer.
  void SendReliable(DWORD dwFirst, DWORD dwEnd) {
    for (DWORD s = dwFirst; s < dwEnd; ++s) {
      std::vector<BYTE> payload = PayloadOf(s);
      DWORD dwSeq = 0;
      ASSERT_EQ(m_pSender->Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE),
                static_cast<int>(SRM_HEADER_LEN + payload.size()));
      ASSERT_EQ(dwSeq, s);
      std::optional<DataPacket> packet = m_peer.NextData();
      ASSERT_TRUE(packet.has_value());
      ASSERT_EQ(packet->header.Sequence, s);
    }
  }

  DataPacket NextRepair() {
    std::optional<DataPacket> packet = m_peer.NextData();
    EXPECT_TRUE(packet.has_value()) << "no repair came";
    return packet.value_or(DataPacket{});
  }

  mcast_test::TestGroup m_group;
  RawPeer m_peer;
  std::unique_ptr<CKORINsender> m_pSender;
};

TEST_F(SenderTest, OpenRefusesGroupSizesOutsideOneToSixteen) {
  std::string trace;
  platform::SetDebugOutputHook([&](std::string_view s) { trace.append(s); });
  for (int nK : {0, 17, -1}) {
    CKORINsender sender;
    // A port would assert on this address: nothing reaches the network.
    EXPECT_FALSE(sender.Open(nK, "1.2.3", 1, 1, 0)) << nK;
    EXPECT_EQ(sender.GetRepairsQueued(), 0u);
    EXPECT_EQ(sender.Send(reinterpret_cast<const BYTE*>("x"), 1, nullptr, FALSE), SOCKET_ERROR);
  }
  EXPECT_EQ(trace, "");
  for (int nK : {1, 16}) {
    CKORINsender sender;
    EXPECT_TRUE(sender.Open(nK, m_group.sAddr.c_str(), m_group.wPort, 1, 0)) << nK;
    EXPECT_EQ(sender.GetNextSequence(), static_cast<DWORD>(nK));
    EXPECT_EQ(sender.GetLowWater(), static_cast<DWORD>(nK));
  }
}

TEST_F(SenderTest, SequencesAndHeadersOnTheWire) {
  OpenBoth(4);
  EXPECT_EQ(m_pSender->GetMaxPayload(),
            static_cast<DWORD>(m_peer.Port().GetMaxSndLen()) - SRM_HEADER_LEN);

  const BYTE abUnrel[] = {'u', 'n'};
  EXPECT_EQ(m_pSender->SendUnreliable(abUnrel, 2), 21);
  std::optional<DataPacket> packet = m_peer.NextData();
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->bytes[0], 0x02);
  EXPECT_EQ(packet->header.Sequence, 3u);  // before any reliable packet
  EXPECT_EQ(packet->header.Key, 0u);
  EXPECT_EQ(packet->header.Index, 3);
  EXPECT_EQ(packet->header.LowWater, 4u);
  EXPECT_EQ(packet->header.PayloadLen, 2);
  EXPECT_EQ(packet->payload, std::vector<BYTE>(abUnrel, abUnrel + 2));

  DWORD dwSeq = 0;
  EXPECT_EQ(m_pSender->Send(abUnrel, 1, &dwSeq, TRUE), 20);
  EXPECT_EQ(dwSeq, 4u);
  packet = m_peer.NextData();
  ASSERT_TRUE(packet.has_value());
  const BYTE abHead[] = {0x06, 0x4E, 0xCF, 0x20};
  EXPECT_EQ(std::vector<BYTE>(packet->bytes.begin(), packet->bytes.begin() + 4),
            std::vector<BYTE>(abHead, abHead + 4));
  EXPECT_EQ(packet->header.Key, 4u);
  EXPECT_EQ(packet->header.Index, 0);

  // An empty payload makes a 19-byte packet; an unreliable one now carries
  // the last reliable sequence.
  EXPECT_EQ(m_pSender->Send(nullptr, 0, &dwSeq, TRUE), 19);
  EXPECT_EQ(dwSeq, 5u);
  packet = m_peer.NextData();
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->bytes.size(), 19u);
  EXPECT_EQ(packet->header.Sequence, 5u);
  EXPECT_EQ(m_pSender->SendUnreliable(abUnrel, 1), 20);
  packet = m_peer.NextData();
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->header.Sequence, 5u);
  EXPECT_FALSE(packet->header.fReliable);
  EXPECT_EQ(m_pSender->GetNextSequence(), 6u);

  // The largest payload goes out whole; one byte more is refused.
  std::vector<BYTE> big(m_pSender->GetMaxPayload() + 1, 0x5A);
  EXPECT_EQ(m_pSender->Send(big.data(), static_cast<DWORD>(big.size()) - 1, &dwSeq, TRUE),
            static_cast<int>(SRM_HEADER_LEN + big.size() - 1));
  EXPECT_EQ(dwSeq, 6u);
  EXPECT_EQ(m_pSender->Send(big.data(), static_cast<DWORD>(big.size()), &dwSeq, TRUE),
            SOCKET_ERROR);
  EXPECT_EQ(m_pSender->GetNextSequence(), 7u);
  EXPECT_TRUE(m_pSender->WaitForSendReady(1, 0));
}

TEST_F(SenderTest, NacksGetParityThatRebuildsLostPackets) {
  OpenBoth(4);
  ASSERT_NO_FATAL_FAILURE(SendReliable(4, 12));
  // The peer lost sequences 5 and 7 of key 4 and has all of key 8.
  ASSERT_TRUE(m_peer.SendNack({{{4, 2}, {4, 0}}}, 8, 0xF));
  DataPacket r1 = NextRepair(), r2 = NextRepair();
  EXPECT_EQ(r1.header.Index, 4);
  EXPECT_EQ(r2.header.Index, 5);
  for (const DataPacket* r : {&r1, &r2}) {
    EXPECT_EQ(r->header.Key, 4u);
    EXPECT_EQ(r->header.Sequence, 7u);
    EXPECT_TRUE(r->header.fReliable);
  }
  // Sequences 4 and 6 plus the two repairs give back 5 and 7 exactly.
  std::vector<DataPacket> group(2);
  group[0].header.Index = 0;
  group[0].payload = PayloadOf(4);
  group[1].header.Index = 2;
  group[1].payload = PayloadOf(6);
  for (DataPacket& p : group) p.header.PayloadLen = static_cast<WORD>(p.payload.size());
  group.push_back(r1);
  group.push_back(r2);
  std::vector<std::vector<BYTE>> decoded = korin_test::DecodeGroup(4, group);
  ASSERT_EQ(decoded.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(decoded[i], PayloadOf(4 + i)) << i;

  // Asking 3 of key 4 again within the hold-off of those two gets one; the
  // repair of key 8 asked next comes right after it.
  ASSERT_TRUE(m_peer.SendNack({{{4, 3}, {4, 0}}}, 8, 0xF));
  ASSERT_TRUE(m_peer.SendNack({{{8, 1}, {8, 0}}}, 8, 0x7));
  DataPacket r3 = NextRepair(), r4 = NextRepair();
  EXPECT_EQ(r3.header.Key, 4u);
  EXPECT_EQ(r3.header.Index, 6);
  EXPECT_EQ(r4.header.Key, 8u);
  EXPECT_EQ(r4.header.Index, 4);
}

TEST_F(SenderTest, KeyLowWaterLagsAndPurgedKeysGetNoRepairs) {
  OpenBoth(4);
  ASSERT_NO_FATAL_FAILURE(SendReliable(4, 16));
  EXPECT_FALSE(m_pSender->SetLowWater(3));
  EXPECT_TRUE(m_pSender->SetLowWater(4));
  EXPECT_TRUE(m_pSender->SetLowWater(9));  // key low water: key of 4
  EXPECT_EQ(m_pSender->GetLowWater(), 9u);
  EXPECT_TRUE(m_pSender->SetLowWater(13));  // key low water: key of 9
  EXPECT_FALSE(m_pSender->SetLowWater(12));

  std::vector<BYTE> payload = PayloadOf(16);
  DWORD dwSeq = 0;
  ASSERT_GT(m_pSender->Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE), 0);
  std::optional<DataPacket> packet = m_peer.NextData();
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->header.LowWater, 8u);

  std::string trace;
  platform::SetDebugOutputHook([&](std::string_view s) { trace.append(s); });
  // Key 4 is below the key low water; key 400 was never sent; key 8 is above
  // the key low water (its last sequence 11 is not below 8) and gets its repair.
  ASSERT_TRUE(m_peer.SendNack({{{4, 2}, {4, 0}}, {{400, 1}, {400, 0}}}, 12, 0));
  ASSERT_TRUE(m_peer.SendNack({{{8, 1}, {8, 0}}}, 12, 0));
  DataPacket repair = NextRepair();
  EXPECT_EQ(repair.header.Key, 8u);
  EXPECT_EQ(repair.header.Index, 4);
  platform::SetDebugOutputHook({});
  EXPECT_NE(trace.find("Nothing cached for NACKed key 400\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Nothing cached for NACKed key 4\n"), std::string::npos) << trace;

  // Raising it again purges key 8: its last sequence 11 is below 12.
  EXPECT_TRUE(m_pSender->SetLowWater(17));
  ASSERT_TRUE(m_peer.SendNack({{{8, 1}, {8, 0}}}, 12, 0));
  ASSERT_TRUE(m_peer.SendNack({{{12, 1}, {12, 0}}}, 12, 0));
  repair = NextRepair();
  EXPECT_EQ(repair.header.Key, 12u);
}

TEST_F(SenderTest, HostileDatagramsLeaveTheSenderWorking) {
  OpenBoth(4);
  ASSERT_NO_FATAL_FAILURE(SendReliable(4, 8));
  BYTE junk[300] = {};
  for (int i = 0; i < 300; ++i) junk[i] = static_cast<BYTE>(i * 7);
  BYTE nack[NACK_PACKET_MAX_LEN];
  tNACKPacket packet;
  packet.bNumRanges = 16;
  for (auto& range : packet.Ranges) range = {{4, 255}, {0xFFFFFFFCu, 255}};
  DWORD dwLen = EncodeNACKPacket(packet, nack, sizeof nack);
  ASSERT_TRUE(m_peer.SendRaw(junk, sizeof junk));  // too long for a NACK
  ASSERT_TRUE(m_peer.SendRaw(junk, 3));
  ASSERT_TRUE(m_peer.SendRaw(nack, dwLen - 1));  // a range cut short
  nack[36] = 17;
  ASSERT_TRUE(m_peer.SendRaw(nack, dwLen));
  nack[36] = 16;
  ASSERT_TRUE(m_peer.SendRaw(nack, dwLen));  // whole: at most K repairs of key 4
  ASSERT_TRUE(m_peer.SendNack({{{4, 1}, {4, 0}}}, 4, 0));
  for (int i = 0; i < 4; ++i) {
    DataPacket repair = NextRepair();
    EXPECT_EQ(repair.header.Key, 4u);
    EXPECT_EQ(repair.header.Index, 4 + i);
  }
  // The sender still sends data, ahead of any repair.
  ASSERT_NO_FATAL_FAILURE(SendReliable(8, 9));
}

// A sender whose wait for the first completion fails.
class FailingWaitSender : public CKORINsender {
 public:
  int m_nFailures = 1;

 protected:
  DWORD WaitForCompletion(HANDLE hEvent) override {
    if (m_nFailures > 0) {
      --m_nFailures;
      return WAIT_FAILED;
    }
    return CKORINsender::WaitForCompletion(hEvent);
  }
};

TEST_F(SenderTest, SendWhoseWaitFailsLeavesNothingOfItsFrameToTheThread) {
  ASSERT_TRUE(m_peer.Open(m_group.sAddr.c_str(), m_group.wPort, TRUE));
  FailingWaitSender sender;
  ASSERT_TRUE(sender.Open(4, m_group.sAddr.c_str(), m_group.wPort, 1, kLongHoldOffMs));
  ASSERT_EQ(sender.SetDataRate(4000), 0u);
  std::vector<BYTE> first(1000, 1);
  DWORD dwSeq = 0;
  sender.m_nFailures = 0;
  ASSERT_GT(sender.Send(first.data(), 1000, &dwSeq, TRUE), 0);  // leaves the limiter in debt
  sender.m_nFailures = 1;
  std::vector<BYTE> payload = PayloadOf(5);
  const std::vector<BYTE> original = payload;
  EXPECT_EQ(sender.Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE),
            SOCKET_ERROR);
  // The caller may reuse all of it at once.
  dwSeq = 0xDEADBEEF;
  std::fill(payload.begin(), payload.end(), 0xEE);
  std::vector<BYTE> third = PayloadOf(6);
  DWORD dwThirdSeq = 0;
  EXPECT_EQ(sender.Send(third.data(), static_cast<DWORD>(third.size()), &dwThirdSeq, TRUE),
            static_cast<int>(SRM_HEADER_LEN + third.size()));
  EXPECT_EQ(dwThirdSeq, 6u) << "the result of this send, not of the abandoned one";
  EXPECT_EQ(dwSeq, 0xDEADBEEFu);
  for (DWORD seq : {4u, 5u, 6u}) {
    std::optional<DataPacket> packet = m_peer.NextData();
    ASSERT_TRUE(packet.has_value());
    EXPECT_EQ(packet->header.Sequence, seq);
    if (seq == 5) {
      EXPECT_EQ(packet->payload, original);
    }
  }
}

TEST_F(SenderTest, CloseIsPromptAtALowRate) {
  OpenBoth(4, 0);
  ASSERT_EQ(m_pSender->SetDataRate(125), 0u);  // 1 kbit/s
  std::vector<BYTE> payload(1000, 7);
  DWORD dwSeq = 0;
  ASSERT_GT(m_pSender->Send(payload.data(), 1000, &dwSeq, TRUE), 0);  // 8 s of debt
  ASSERT_TRUE(m_peer.NextData().has_value());
  ASSERT_TRUE(m_peer.SendNack({{{4, 1}, {4, 0}}}, 4, 0));  // a repair waits for credit
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_pSender->GetRepairsQueued() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(m_pSender->GetRepairsQueued(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = std::chrono::steady_clock::now();
  m_pSender->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(SenderTest, DeletingTheSenderStopsItsThreadPromptly) {
  OpenBoth(2);
  ASSERT_NO_FATAL_FAILURE(SendReliable(2, 6));
  ASSERT_TRUE(m_peer.SendNack({{{2, 2}, {2, 0}}}, 4, 0));
  auto start = std::chrono::steady_clock::now();
  m_pSender.reset();
  auto elapsed = std::chrono::steady_clock::now() - start;
  // The stop request wakes the thread's wait; a generous bound for slow builds.
  EXPECT_LT(elapsed, std::chrono::milliseconds(4 * CSndrIOThread::kWaitMs));

  CKORINsender closed;
  EXPECT_EQ(closed.Send(reinterpret_cast<const BYTE*>("x"), 1, nullptr, FALSE), SOCKET_ERROR);
  EXPECT_EQ(closed.GetRepairsQueued(), 0u);
  EXPECT_FALSE(closed.SetLowWater(100));
}

}  // namespace
