#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "korin/KORINreceiver.h"
#include "mcast/Multicast.h"
#include "tests/korin_receiver/Packets.h"
#include "tests/mcast/TestGroup.h"

namespace {

class KORINreceiverTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1")); }
  void TearDown() override { CMulticast::SetInterfaceForTesting(nullptr); }
};

TEST_F(KORINreceiverTest, OpenTakesGroupSizesOneToSixteen) {
  mcast_test::TestGroup group = mcast_test::NextTestGroup();
  for (int nK : {0, 17, -1}) {
    CKORINreceiver receiver(100, 4500, 3);
    EXPECT_FALSE(receiver.Open(nK, group.sAddr.c_str(), group.wPort, 1)) << nK;
    EXPECT_EQ(receiver.GetPort(), nullptr);
  }
  for (int nK : {1, 16}) {
    CKORINreceiver receiver(100, 4500, 3);
    ASSERT_TRUE(receiver.Open(nK, group.sAddr.c_str(), group.wPort, 1)) << nK;
    EXPECT_GE(receiver.GetMaxPacketSize(), 1460);
    receiver.Close();
    EXPECT_EQ(receiver.GetPort(), nullptr);
  }
  CKORINreceiver bad(100, 4500, 3);
  EXPECT_FALSE(bad.Open(4, "10.1.2.3", group.wPort, 1));  // not a group
}

TEST_F(KORINreceiverTest, WaitTimesOutWithNothingQueued) {
  mcast_test::TestGroup group = mcast_test::NextTestGroup();
  auto* pReceiver = new CKORINreceiver(100, 4500, 3);
  ASSERT_TRUE(pReceiver->Open(4, group.sAddr.c_str(), group.wPort, 1));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pReceiver->Wait(0, 250000), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(240));
  IReliableReceiver* pInterface = pReceiver;
  delete pInterface;  // through the interface, stopping the I/O thread
}

// A sender on another loopback address, which the receiver does not take
// for its own.
class ForeignSender {
 public:
  ForeignSender(const mcast_test::TestGroup& group) {
    m_s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self = {};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = inet_addr("127.0.0.2");
    in_addr iface = {};
    iface.s_addr = inet_addr("127.0.0.1");
    m_fOk = m_s >= 0 && bind(m_s, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
            setsockopt(m_s, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) == 0;
    m_to.sin_family = AF_INET;
    m_to.sin_port = htons(group.wPort);
    m_to.sin_addr.s_addr = inet_addr(group.sAddr.c_str());
  }
  ~ForeignSender() {
    if (m_s >= 0) close(m_s);
  }
  bool Ok() const { return m_fOk; }
  void Send(const korin_test::Datagram& d) { Send(korin_test::Wire(d)); }
  void Send(const std::vector<BYTE>& bytes) {
    sendto(m_s, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&m_to),
           sizeof m_to);
  }

 private:
  int m_s = -1;
  bool m_fOk = false;
  sockaddr_in m_to = {};
};

// Other receivers' NACKs that cover none of ours, each of which makes the
// receiver walk its many NACKs: it cannot keep up, so its socket never runs
// dry while the flood lasts.
TEST_F(KORINreceiverTest, DueNACKGoesOutUnderSustainedInboundLoad) {
  constexpr int kFloodSeconds = 6;
  mcast_test::TestGroup group = mcast_test::NextTestGroup();
  ForeignSender sender(group);
  ASSERT_TRUE(sender.Ok());
  CMulticast listener;  // hears what the receiver sends
  ASSERT_EQ(listener.Open(group.sAddr.c_str(), group.wPort, 1, TRUE), 0);
  CKORINreceiver receiver(100, 200, 3);
  ASSERT_TRUE(receiver.Open(4, group.sAddr.c_str(), group.wPort, 1));
  for (DWORD seq = 4; seq < 4 + 8 * 1000; seq += 8) {  // a thousand gaps, paced to be read
    sender.Send(korin_test::Source(seq, 4));
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }

  tNACKPacket other;
  other.bNumRanges = NACK_MAX_RANGES;
  for (DWORD i = 0; i < NACK_MAX_RANGES; ++i)
    other.Ranges[i] = {{0xF0000000u + 4 * i, 1}, {0xF0000000u + 4 * i, 0}};
  std::vector<BYTE> otherBytes(NACK_PACKET_MAX_LEN);
  otherBytes.resize(EncodeNACKPacket(other, otherBytes.data(), otherBytes.size()));

  std::atomic<bool> fHeard{false};
  std::vector<std::thread> flood;
  for (int i = 0; i < 3; ++i) {
    flood.emplace_back([&] {
      ForeignSender own(group);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kFloodSeconds);
      while (!fHeard && std::chrono::steady_clock::now() < deadline) own.Send(otherBytes);
    });
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<BYTE> buf(2048);
  while (!fHeard &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(kFloodSeconds)) {
    BOOL fRead = FALSE, fWrite = FALSE;
    if (listener.Select(0, 100000, &fRead, &fWrite, TRUE, FALSE) <= 0 || !fRead) continue;
    sockaddr_in from = {};
    const int nBytes = listener.RecvFrom(buf.data(), static_cast<long>(buf.size()), &from);
    tNACKPacket packet;
    if (nBytes > 0 && from.sin_addr.s_addr == inet_addr("127.0.0.1") &&
        ParseNACKPacket(buf.data(), nBytes, &packet) == KorinCheck::Ok) {
      fHeard = true;
      EXPECT_EQ(packet.Ranges[0].FirstItem.Key % 4, 0u);
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  fHeard = true;
  for (std::thread& t : flood) t.join();
  EXPECT_LT(elapsed, std::chrono::seconds(kFloodSeconds)) << "no NACK while datagrams kept coming";
}

}  // namespace
