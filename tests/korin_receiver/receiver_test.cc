#include "korin/KORINreceiver.h"

#include <gtest/gtest.h>

#include <chrono>

#include "mcast/Multicast.h"
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

}  // namespace
