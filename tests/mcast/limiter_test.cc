#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "mcast/Multicast.h"
#include "mcast/RateLimiter.h"
#include "mcast/SimLoss.h"
#include "platform/DebugOutput.h"
#include "platform/Tick.h"

namespace {

constexpr LONG kUnitsPerByte = 64;

// Installs the fake tick clock for one test (single-threaded tests only) and
// keeps assertion reports off the output.
class FakeTicks : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::FakeTickClock::Install(m_dwStart);
    m_prevHook = platform::SetDebugOutputHook([this](std::string_view s) { m_output += s; });
  }
  void TearDown() override {
    platform::SetDebugOutputHook(m_prevHook);
    platform::FakeTickClock::Uninstall();
  }
  DWORD m_dwStart = 5000;
  std::string m_output;
  platform::DebugOutputHook m_prevHook;
};

using RateLimiterTest = FakeTicks;

TEST_F(RateLimiterTest, ThousandBytesPerSecondWaitsOutTheCharge) {
  CRateLimiter limiter;
  ASSERT_EQ(limiter.Init(1000, 16384), ERROR_SUCCESS);
  EXPECT_EQ(limiter.GetWaitMs(), 0u);
  limiter.Use(1028);
  EXPECT_EQ(limiter.GetWaitMs(), 1028u);
  EXPECT_FALSE(limiter.HasCredit());
  platform::FakeTickClock::Advance(1000);
  EXPECT_EQ(limiter.GetWaitMs(), 28u);
  platform::FakeTickClock::Advance(28);
  EXPECT_EQ(limiter.GetWaitMs(), 0u);
  EXPECT_FALSE(limiter.HasCredit());  // exactly 0 is no credit yet
  platform::FakeTickClock::Advance(1);
  EXPECT_TRUE(limiter.HasCredit());
}

TEST_F(RateLimiterTest, ShortfallBelowOneMillisecondStillWaitsOne) {
  CRateLimiter limiter;
  ASSERT_EQ(limiter.Init(1000000, 16384), ERROR_SUCCESS);  // 64000 units per ms
  limiter.Use(10);
  EXPECT_EQ(limiter.GetWaitMs(), 1u);
}

TEST_F(RateLimiterTest, IdleTimeRefillsOnlyUpToTheMaximum) {
  CRateLimiter limiter;
  ASSERT_EQ(limiter.Init(1000, 16384), ERROR_SUCCESS);
  platform::FakeTickClock::Advance(60000);  // 60000 bytes earned, below the refill cap
  limiter.Refill();
  EXPECT_EQ(limiter.GetCredit(), 16384 * kUnitsPerByte);
  // A burst of the maximum credit goes out without waiting, the next byte waits.
  limiter.Use(16384);
  EXPECT_EQ(limiter.GetWaitMs(), 0u);
  limiter.Use(1);
  EXPECT_EQ(limiter.GetWaitMs(), 1u);
}

TEST_F(RateLimiterTest, RefillCapRestoresTheMaximumAfterDeepDebt) {
  CRateLimiter limiter;
  ASSERT_EQ(limiter.Init(10000000, 16384), ERROR_SUCCESS);  // cap (2^20 + 2^30) / 640000 = 1679 ms
  for (int i = 0; i < 1000; ++i) limiter.Use(100000);
  EXPECT_LT(limiter.GetCredit(), 0);
  platform::FakeTickClock::Advance(1679);
  limiter.Refill();
  EXPECT_EQ(limiter.GetCredit(), 16384 * kUnitsPerByte);
}

TEST_F(RateLimiterTest, RefillsAcrossTheTickWrap) {
  platform::FakeTickClock::Set(0xFFFFFFF0u);
  CRateLimiter limiter;
  ASSERT_EQ(limiter.Init(1000, 16384), ERROR_SUCCESS);
  limiter.Use(100);
  platform::FakeTickClock::Set(0x00000010u);  // 32 ms later
  limiter.Refill();
  EXPECT_EQ(limiter.GetCredit(), (32 - 100) * kUnitsPerByte);
}

TEST_F(RateLimiterTest, RejectsOutOfRangeSettings) {
  struct Case {
    DWORD dwBytesPerSec;
    DWORD dwMaxCreditBytes;
    DWORD dwExpected;
  } cases[] = {
      {0x3FFFFFF, 16384, ERROR_SUCCESS},
      {0x4000000, 16384, ERROR_INVALID_PARAMETER},
      {1000, 0x4000000, ERROR_INVALID_PARAMETER},
      {1000, 128 * 1024 + 1, ERROR_INVALID_PARAMETER},  // would overflow the credit
      {1, 16384, ERROR_SUCCESS},                         // rate rounds up to 1 unit per ms
  };
  for (const Case& c : cases) {
    CRateLimiter limiter;
    EXPECT_EQ(limiter.Init(c.dwBytesPerSec, c.dwMaxCreditBytes), c.dwExpected)
        << c.dwBytesPerSec << " " << c.dwMaxCreditBytes;
  }
  CRateLimiter slow;
  ASSERT_EQ(slow.Init(1, 16384), ERROR_SUCCESS);
  slow.Use(1);
  EXPECT_EQ(slow.GetWaitMs(), 64u);
}

using PortLimiterTest = FakeTicks;

TEST_F(PortLimiterTest, SetDataRateLeavesNoHalfMadeLimiter) {
  CMulticast port;
  EXPECT_EQ(port.SetDataRate(0x4000000), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(port.GetDataRate(), 0u);
  EXPECT_EQ(port.SetDataRate(5000), ERROR_SUCCESS);
  EXPECT_EQ(port.GetDataRate(), 5000u);
  EXPECT_EQ(port.SetDataRate(0x4000000), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(port.GetDataRate(), 0u);
  EXPECT_EQ(port.SetDataRate(0), ERROR_SUCCESS);
}

TEST_F(PortLimiterTest, SendChargesPayloadPlusHeadersAndWaitReadyHonoursIt) {
  ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
  CMulticast port;
  ASSERT_EQ(port.OpenSnd("239.77.0.1", 20999, 0), 0);
  ASSERT_EQ(port.SetDataRate(1000), ERROR_SUCCESS);
  BYTE abData[1000] = {};
  ASSERT_EQ(port.Send(abData, sizeof abData), 1000);  // the credit was 0: no wait

  BOOL fRead = TRUE, fWrite = TRUE;
  port.WaitReady(0, 0, &fRead, &fWrite, FALSE, TRUE);
  EXPECT_FALSE(fWrite);
  platform::FakeTickClock::Advance(1027);
  port.WaitReady(0, 0, &fRead, &fWrite, FALSE, TRUE);
  EXPECT_FALSE(fWrite);
  platform::FakeTickClock::Advance(2);
  port.WaitReady(0, 0, &fRead, &fWrite, FALSE, TRUE);
  EXPECT_TRUE(fWrite);
  EXPECT_FALSE(fRead);
  CMulticast::SetInterfaceForTesting(nullptr);
}

TEST(SimLossTest, ClampsAndStoresHundredths) {
  struct Case {
    float fPercent;
    int nStored;
  } cases[] = {{150.0f, 10000}, {100.0f, 10000}, {-5.0f, 0}, {0.001f, 0}, {12.349f, 1234}, {50.0f, 5000}};
  for (const Case& c : cases) {
    CSimLoss loss(c.fPercent);
    EXPECT_EQ(loss.GetLossHundredths(), c.nStored) << c.fPercent;
  }
  CSimLoss loss(10.0f);
  loss.SetLossPerc(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(loss.GetLossHundredths(), 0);
}

TEST(SimLossTest, DropRatesMatchTheSetPercentage) {
  struct Case {
    float fPercent;
    double dLow, dHigh;
  } cases[] = {{100.0f, 1.0, 1.0}, {50.0f, 0.495, 0.505}, {10.0f, 0.097, 0.103}, {0.001f, 0.00002, 0.0005}};
  constexpr int kDraws = 200000;
  for (const Case& c : cases) {
    CSimLoss loss(c.fPercent);
    int nDropped = 0;
    for (int i = 0; i < kDraws; ++i) nDropped += loss.Drop() ? 1 : 0;
    double dRate = static_cast<double>(nDropped) / kDraws;
    EXPECT_GE(dRate, c.dLow) << c.fPercent;
    EXPECT_LE(dRate, c.dHigh) << c.fPercent;
  }
}

}  // namespace
