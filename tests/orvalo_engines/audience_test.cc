// The audience engine's live side on this host: joining, following the
// presenter's state, and the reassembly of received items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcast/Multicast.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/SlideInserter.h"
#include "platform/DebugOutput.h"
#include "tests/mcast/TestGroup.h"
#include "tests/orvalo_engines/FakeCOA.h"
#include "tests/orvalo_engines/SlidePackets.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"

namespace {

using engines_test::Bytes;
using engines_test::FilePacket;
using engines_test::PointsPacket;
using engines_test::StatePacket;
using engines_test::tShow;
using Calls = std::vector<std::string>;

class AudienceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    fake_coa::Reset();
  }
  void TearDown() override {
    m_audience.Disconnect();
    orvalo::SetSlideInserter(nullptr);
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  void Connect() {
    const mcast_test::TestGroup group = mcast_test::NextTestGroup();
    ASSERT_TRUE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "t", "d", "sd", "st"));
    fake_coa::Reset();
  }

  BOOL Deliver(const Bytes& packet, DWORD dwSeq, DWORD dwLowWater = 0) {
    CPacketAndInfo pai(packet.data(), static_cast<DWORD>(packet.size()), dwSeq, dwLowWater);
    return m_audience.HandlePacket(&pai);
  }

  // A slide cabinet cut into n file packets.
  std::vector<Bytes> SlideItem(DWORD dwSlide, const std::string& contents, size_t n,
                               DWORD dwTime = 1) {
    std::vector<std::string> slices =
        engines_test::Slices(engines_test::MakeSlideCabinet(dwSlide, contents, false), n);
    std::vector<Bytes> packets;
    for (size_t i = 0; i < n; ++i) {
      packets.push_back(
          FilePacket({.dwSlide = 1, .dwTime = dwTime}, dwSlide, i == 0, i + 1 < n, slices[i]));
    }
    return packets;
  }

  ScopedTmpDir m_tmp;
  CAudienceMember m_audience;
};

TEST_F(AudienceTest, InitRefusesAnythingButAGroupAndStartsNothing) {
  const WORD wPort = mcast_test::NextTestGroup().wPort;
  for (const char* szAddr : {"10.1.2.3", "240.0.0.1", "223.255.255.255", "239.1.2", "239.1.2.3.4",
                             "239.1.2.256", " 239.1.2.3", "", "group"}) {
    EXPECT_FALSE(m_audience.Init(szAddr, wPort, 1, 0, "", "", "", "")) << szAddr;
    EXPECT_FALSE(m_audience.IsConnected()) << szAddr;
  }
  EXPECT_FALSE(m_audience.Init(nullptr, wPort, 1, 0, "", "", "", ""));
  EXPECT_EQ(fake_coa::Calls(), Calls{});
}

TEST_F(AudienceTest, InitJoinsAndDisconnectTidiesUpRepeatedly) {
  const mcast_test::TestGroup group = mcast_test::NextTestGroup();
  ASSERT_TRUE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "", "", "", ""));
  EXPECT_TRUE(m_audience.IsConnected());
  EXPECT_EQ(fake_coa::Calls(), (Calls{"ShowWaitDialog", "GoTo 1 0"}));
  EXPECT_EQ(m_audience.GetState().dwSlide, 1u);
  EXPECT_EQ(m_audience.GetState().dwScreenState, 3u);
  // A second Init while connected would leak the first receiver and thread.
  EXPECT_FALSE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "", "", "", ""));
  m_audience.Disconnect();
  m_audience.Disconnect();
  EXPECT_FALSE(m_audience.IsConnected());
  EXPECT_EQ(fake_coa::CallsStartingWith("Cleanup").size(), 2u);
  // Packets still queued in the bridge after Disconnect are ignored.
  EXPECT_TRUE(Deliver(StatePacket({.dwSlide = 4, .dwTime = 9}), 1));
  EXPECT_EQ(fake_coa::CallsStartingWith("GoTo").size(), 1u);
}

TEST_F(AudienceTest, FollowsOnlyNewerStates) {
  Connect();
  struct {
    tShow show;
    Calls expected;
  } const cases[] = {
      {{.dwSlide = 2, .dwTime = 10, .wStep = 0, .dwScreen = 3}, {"GoTo 2 0"}},
      {{.dwSlide = 3, .dwTime = 10, .wStep = 1, .dwScreen = 0}, {}},  // same time: not newer
      {{.dwSlide = 2, .dwTime = 20, .wStep = 1, .dwScreen = 0}, {"GoTo 2 1", "SetScreen 0"}},
      {{.dwSlide = 5, .dwTime = 15, .wStep = 0, .dwScreen = 2}, {}},  // older
      {{.dwSlide = 2, .dwTime = 21, .wStep = 1, .dwScreen = 2}, {"SetScreen 2"}},
      {{.dwSlide = 2, .dwTime = 22, .wStep = 1, .dwScreen = 2}, {}},  // nothing changed
  };
  DWORD dwSeq = 1;
  for (const auto& c : cases) {
    fake_coa::Reset();
    EXPECT_TRUE(Deliver(StatePacket(c.show), dwSeq++));
    EXPECT_EQ(fake_coa::Calls(), c.expected) << "time " << c.show.dwTime;
  }
  EXPECT_EQ(m_audience.GetState().dwTime, 22u);
}

TEST_F(AudienceTest, DoneQuitsAndLeavesTheItemAlone) {
  Connect();
  const std::vector<tPtsPoint> points = {{1, 2}, {3, 4}};
  EXPECT_TRUE(Deliver(PointsPacket({.dwSlide = 1, .dwTime = 5, .fDone = TRUE}, 0xFF, points), 1));
  EXPECT_EQ(fake_coa::Calls(), Calls{"Quit"});
  // An older done packet is only an item.
  fake_coa::Reset();
  EXPECT_TRUE(Deliver(PointsPacket({.dwSlide = 1, .dwTime = 4, .fDone = TRUE}, 0xFF, points), 2));
  EXPECT_EQ(fake_coa::Calls(), Calls{"DrawPoints 255 1,2 3,4"});
}

TEST_F(AudienceTest, StrokesFromAnEarlierSlideAreNotDrawnOnTheCurrentOne) {
  Connect();
  ASSERT_TRUE(Deliver(StatePacket({.dwSlide = 3, .dwTime = 20}), 1));
  const std::vector<tPtsPoint> points = {{1, 2}, {3, 4}};
  struct {
    tShow stamp;
    bool fDrawn;
  } const cases[] = {
      {{.dwSlide = 2, .dwTime = 10}, false},  // repaired after slide 3 was shown
      {{.dwSlide = 3, .dwTime = 10}, true},   // older state, same slide
      {{.dwSlide = 3, .dwTime = 20}, true},
  };
  DWORD dwSeq = 2;
  for (const auto& c : cases) {
    fake_coa::Reset();
    EXPECT_TRUE(Deliver(PointsPacket(c.stamp, 0xFF, points), dwSeq++));
    EXPECT_EQ(fake_coa::CallsStartingWith("DrawPoints").size(), c.fDrawn ? 1u : 0u)
        << "slide " << c.stamp.dwSlide << " time " << c.stamp.dwTime;
  }
  // A newer state on another slide moves there first, then draws.
  fake_coa::Reset();
  EXPECT_TRUE(Deliver(PointsPacket({.dwSlide = 4, .dwTime = 30}, 0xFF, points), dwSeq++));
  EXPECT_EQ(fake_coa::Calls(), (Calls{"GoTo 4 0", "DrawPoints 255 1,2 3,4"}));
}

TEST_F(AudienceTest, OnePacketItemsAreHandledAtOnce) {
  Connect();
  EXPECT_TRUE(Deliver(PointsPacket({.dwTime = 0}, 0x00FF00, {{0.5f, 1.5f}, {2, 3}, {4, 5}}), 1));
  std::vector<Bytes> item = SlideItem(6, "slide six", 1);
  EXPECT_TRUE(Deliver(item[0], 2));
  EXPECT_EQ(fake_coa::Calls(), (Calls{"DrawPoints 65280 0.5,1.5 2,3 4,5", "AddSlideFromFile 6"}));
  ASSERT_EQ(fake_coa::Inserted().size(), 1u);
  EXPECT_EQ(fake_coa::Inserted()[0].sBytes, "slide six");
  EXPECT_EQ(m_audience.GetPendingCount(), 0u);
}

TEST_F(AudienceTest, ReassemblesARunInSequenceOrderOnceComplete) {
  Connect();
  const std::string contents(3000, 'x');
  std::vector<Bytes> item = SlideItem(7, contents + "end", 3);
  platform::ScopedDebugCapture trace;
  EXPECT_TRUE(Deliver(item[2], 12));
  EXPECT_TRUE(Deliver(item[0], 10));
  EXPECT_TRUE(Deliver(item[0], 10));  // Korin may deliver a number twice
  EXPECT_EQ(m_audience.GetPendingCount(), 2u);
  EXPECT_NE(trace.Text().find("Duplicate\n"), std::string::npos);
  EXPECT_TRUE(fake_coa::Inserted().empty());
  EXPECT_TRUE(Deliver(item[1], 11));
  ASSERT_EQ(fake_coa::Inserted().size(), 1u);
  EXPECT_EQ(fake_coa::Inserted()[0].dwSlide, 7u);
  EXPECT_EQ(fake_coa::Inserted()[0].sBytes, contents + "end");
  EXPECT_EQ(m_audience.GetPendingCount(), 0u);
  EXPECT_EQ(m_audience.GetPendingBytes(), 0u);
}

// Korin delivers a packet on arrival and again within its decoded group:
// the repeat draws no second stroke and inserts no second slide, also once
// the first copy has left the pending list.
TEST_F(AudienceTest, DataDeliveredAgainIsHandledOnce) {
  Connect();
  const Bytes points = PointsPacket({.dwTime = 1}, 0xFF, {{1, 2}});
  std::vector<Bytes> single = SlideItem(5, "five", 1);
  std::vector<Bytes> run = SlideItem(6, "six", 3);
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(Deliver(points, 40));
    EXPECT_TRUE(Deliver(single[0], 41));
    for (DWORD i = 0; i < 3; ++i) EXPECT_TRUE(Deliver(run[i], 42 + i));
  }
  EXPECT_EQ(fake_coa::CallsStartingWith("DrawPoints").size(), 1u);
  ASSERT_EQ(fake_coa::Inserted().size(), 2u);
  EXPECT_EQ(fake_coa::Inserted()[1].sBytes, "six");
  EXPECT_EQ(m_audience.GetPendingCount(), 0u);
  // A state packet goes unreliably under the last reliable sequence: it
  // still moves the show.
  fake_coa::Reset();
  EXPECT_TRUE(Deliver(StatePacket({.dwSlide = 6, .dwTime = 9}), 44));
  EXPECT_EQ(fake_coa::Calls(), Calls{"GoTo 6 0"});
  // What is remembered stays bounded.
  for (DWORD i = 0; i < CAudienceMember::kMaxHandled + 10; ++i)
    Deliver(PointsPacket({.dwTime = 9}, 0xFF, {{1, 2}}), 100 + i);
  EXPECT_EQ(m_audience.GetHandledCount(), CAudienceMember::kMaxHandled);
}

TEST_F(AudienceTest, ARunWithAGapWaitsForTheMissingPacket) {
  Connect();
  std::vector<Bytes> item = SlideItem(3, "three", 3);
  std::vector<Bytes> other = SlideItem(4, "four", 2);
  EXPECT_TRUE(Deliver(item[0], 20));
  EXPECT_TRUE(Deliver(item[2], 22));
  // A complete run behind the gap is taken; the entries before it stay.
  EXPECT_TRUE(Deliver(other[0], 30));
  EXPECT_TRUE(Deliver(other[1], 31));
  ASSERT_EQ(fake_coa::Inserted().size(), 1u);
  EXPECT_EQ(fake_coa::Inserted()[0].dwSlide, 4u);
  EXPECT_EQ(m_audience.GetPendingCount(), 2u);
  EXPECT_TRUE(Deliver(item[1], 21));
  ASSERT_EQ(fake_coa::Inserted().size(), 2u);
  EXPECT_EQ(fake_coa::Inserted()[1].sBytes, "three");
  EXPECT_EQ(m_audience.GetPendingCount(), 0u);
}

TEST_F(AudienceTest, ARunOfAnotherTypeStaysUntilTheLowWaterPassesIt) {
  Connect();
  Bytes first = PointsPacket({}, 1, {{1, 1}, {2, 2}});
  Bytes last = first;
  tPacketHeader::Of(first.data())->SetMore(TRUE);
  tPacketHeader::Of(last.data())->SetFirst(FALSE);
  EXPECT_TRUE(Deliver(first, 5, 2));
  EXPECT_TRUE(Deliver(last, 6, 2));
  EXPECT_EQ(m_audience.GetPendingCount(), 2u);
  EXPECT_EQ(fake_coa::CallsStartingWith("DrawPoints").size(), 0u);
  // It does not hide a slide file behind it.
  std::vector<Bytes> behind = SlideItem(3, "three", 2);
  EXPECT_TRUE(Deliver(behind[0], 40, 2));
  EXPECT_TRUE(Deliver(behind[1], 41, 2));
  ASSERT_EQ(fake_coa::Inserted().size(), 1u);
  EXPECT_EQ(m_audience.GetPendingCount(), 2u);

  // When the low water rises, entries below it go; those at or above it stay,
  // whatever low water they came with (a run's first packet is often sent
  // before the sender raised it).
  std::vector<Bytes> item = SlideItem(2, "two", 3);
  EXPECT_TRUE(Deliver(item[0], 7, 2));
  EXPECT_TRUE(Deliver(StatePacket({.dwTime = 1}), 20, 2));
  EXPECT_EQ(m_audience.GetPendingCount(), 3u);  // same low water: nothing goes
  EXPECT_TRUE(Deliver(StatePacket({.dwTime = 1}), 21, 7));
  EXPECT_EQ(m_audience.GetPendingCount(), 1u);
  EXPECT_TRUE(Deliver(item[1], 8, 7));
  EXPECT_TRUE(Deliver(StatePacket({.dwTime = 1}), 22, 1));  // a lower one is not taken
  EXPECT_EQ(m_audience.GetLowWater(), 7u);
  EXPECT_EQ(m_audience.GetPendingCount(), 2u);
  EXPECT_TRUE(Deliver(item[2], 9, 7));
  ASSERT_EQ(fake_coa::Inserted().size(), 2u);
  EXPECT_EQ(fake_coa::Inserted()[1].sBytes, "two");
}

TEST_F(AudienceTest, PendingListKeepsItsOwnBound) {
  Connect();
  const size_t cbEntry = 40 + 1000 + CAudienceMember::kPendingEntryOverhead;
  m_audience.SetMaxPendingBytes(10 * cbEntry);
  // A sender that starts items and never ends one.
  const std::string data(1000, 'd');
  for (DWORD dwSeq = 1; dwSeq <= 100; ++dwSeq) {
    EXPECT_TRUE(Deliver(FilePacket({}, 5, TRUE, TRUE, data), dwSeq * 2));
    EXPECT_LE(m_audience.GetPendingBytes(), 10 * cbEntry);
  }
  EXPECT_EQ(m_audience.GetPendingCount(), 10u);
  // The newest are kept, so that a run still arriving can complete.
  std::vector<Bytes> item = SlideItem(8, "eight", 2);
  EXPECT_TRUE(Deliver(item[0], 1000));
  EXPECT_TRUE(Deliver(item[1], 1001));
  ASSERT_EQ(fake_coa::Inserted().size(), 1u);
  EXPECT_EQ(fake_coa::Inserted()[0].sBytes, "eight");
}

TEST_F(AudienceTest, AFailedSliceDropsItsWholeRun) {
  Connect();
  std::vector<Bytes> item = SlideItem(9, "nine", 3);
  tSlidePacketHeader::Of(item[1].data())->SetFileSlide(10);  // not the item's slide
  EXPECT_TRUE(Deliver(item[0], 1));
  EXPECT_TRUE(Deliver(item[2], 3));
  EXPECT_FALSE(Deliver(item[1], 2));
  EXPECT_EQ(m_audience.GetPendingCount(), 0u);
  EXPECT_TRUE(fake_coa::Inserted().empty());
}

TEST_F(AudienceTest, PacketsThatDoNotHoldTheirFieldsAreDropped) {
  Connect();
  Bytes shortState = StatePacket({.dwSlide = 9, .dwTime = 50});
  shortState.resize(35);
  Bytes overCount = PointsPacket({.dwTime = 51}, 1, {{1, 1}, {2, 2}});
  overCount.resize(overCount.size() - 1);
  Bytes emptyFile = FilePacket({.dwTime = 52}, 3, TRUE, FALSE, "");
  for (const Bytes& p : {shortState, overCount, emptyFile}) EXPECT_FALSE(Deliver(p, 1));
  EXPECT_EQ(fake_coa::Calls(), Calls{});
  EXPECT_EQ(m_audience.GetState().dwTime, 0u);
}

}  // namespace
