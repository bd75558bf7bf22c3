#include "korin/EpochSender.h"

#include <gtest/gtest.h>

#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "tests/mcast/TestGroup.h"

namespace {

class EpochSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    CKORINsender::SetLoopbackForTesting(TRUE);
    platform::SetDebugOutputHook([](std::string_view) {});  // refusals assert
    mcast_test::TestGroup group = mcast_test::NextTestGroup();
    ASSERT_TRUE(m_sender.Open(4, group.sAddr.c_str(), group.wPort, 1, 4400));
  }
  void TearDown() override {
    m_sender.Close();
    platform::SetDebugOutputHook({});
    CKORINsender::SetLoopbackForTesting(FALSE);
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  // Sends n reliable packets; returns the sequence of the first.
  DWORD Send(int n) {
    DWORD dwFirst = m_sender.GetNextSequence();
    for (int i = 0; i < n; ++i) {
      DWORD dwSeq = 0;
      EXPECT_EQ(m_sender.Send(reinterpret_cast<const BYTE*>("epoch"), 5, &dwSeq, TRUE), 24);
    }
    return dwFirst;
  }

  CEpochSender m_sender;
};

TEST_F(EpochSenderTest, LowWaterFollowsTheOldestValidEpoch) {
  IEpochSender* pEpochs = &m_sender;
  EXPECT_TRUE(pEpochs->SetEpoch(63, 3));  // records {4, 63}
  EXPECT_EQ(m_sender.GetLowWater(), 4u);
  Send(2);                                 // 4, 5
  EXPECT_TRUE(pEpochs->SetEpoch(63, 5));  // same epoch, larger count: nothing changes
  EXPECT_TRUE(pEpochs->SetEpoch(64, 3));
  Send(3);                                 // 6, 7, 8
  EXPECT_TRUE(pEpochs->SetEpoch(65, 3));
  DWORD dwStart65 = Send(1);               // 9
  EXPECT_EQ(m_sender.GetLowWater(), 4u);
  EXPECT_TRUE(pEpochs->SetEpoch(66, 3));  // 64, 65, 66 stay valid
  EXPECT_EQ(m_sender.GetLowWater(), 6u);
  EXPECT_TRUE(pEpochs->SetEpoch(66, 2));  // same epoch, fewer valid
  EXPECT_EQ(m_sender.GetLowWater(), dwStart65);
  EXPECT_TRUE(pEpochs->SetEpoch(66, 3));  // the low water never falls
  EXPECT_EQ(m_sender.GetLowWater(), dwStart65);
}

TEST_F(EpochSenderTest, RefusalsChangeNothing) {
  IReliableSender* pSender = &m_sender;
  EXPECT_TRUE(m_sender.SetEpoch(63, 3));
  Send(4);
  EXPECT_TRUE(m_sender.SetEpoch(64, 1));
  EXPECT_EQ(m_sender.GetLowWater(), 8u);

  struct Case {
    DWORD dwEpoch;
    DWORD dwValid;
  } refused[] = {{63, 1}, {62, 3}, {64, 0}, {64, 64}, {65, 0}};
  for (const Case& c : refused) {
    EXPECT_FALSE(m_sender.SetEpoch(c.dwEpoch, c.dwValid)) << c.dwEpoch << "/" << c.dwValid;
  }
  EXPECT_FALSE(pSender->SetLowWater(100));
  EXPECT_EQ(m_sender.GetLowWater(), 8u);
  // The ring was not touched: the next epoch still sees 64 as the last.
  Send(1);
  EXPECT_TRUE(m_sender.SetEpoch(65, 1));
  EXPECT_EQ(m_sender.GetLowWater(), 9u);
}

TEST_F(EpochSenderTest, RingKeepsTheNewest63Epochs) {
  // Epochs 63..132, one packet each: epoch E starts at sequence E - 59.
  for (DWORD e = 63; e <= 132; ++e) {
    ASSERT_TRUE(m_sender.SetEpoch(e, 63));
    ASSERT_EQ(Send(1), e - 59);
  }
  // 63 valid epochs of 132 start at 70, still held.
  EXPECT_EQ(m_sender.GetLowWater(), 70u - 59);
  ASSERT_TRUE(m_sender.SetEpoch(133, 63));
  EXPECT_EQ(m_sender.GetLowWater(), 71u - 59);
  // More valid epochs than held: the oldest held one is used.
  ASSERT_TRUE(m_sender.SetEpoch(133, 3));
  EXPECT_EQ(m_sender.GetLowWater(), 131u - 59);
}

}  // namespace
