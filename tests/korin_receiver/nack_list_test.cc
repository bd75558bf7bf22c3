#include "korin/NACKlist.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "korin/RecvQueue.h"
#include "platform/Handle.h"
#include "platform/Tick.h"
#include "tests/korin_receiver/Packets.h"

namespace {

using korin_test::Datagram;
using korin_test::Parity;
using korin_test::PayloadOf;
using korin_test::Source;

constexpr int kK = 4;
constexpr DWORD kMinMs = 100, kMaxMs = 4500;
constexpr int kCap = 3;

bool SameRange(const tNACKRange& r, DWORD k1, int c1, DWORD k2, int c2) {
  return r.FirstItem.Key == k1 && r.FirstItem.Count == c1 && r.LastItem.Key == k2 &&
         r.LastItem.Count == c2;
}

// Another receiver's NACK datagram, split into header and payload as the
// I/O thread hands it over; dwCut drops trailing bytes.
std::vector<BYTE> OtherNACK(const std::vector<tNACKRange>& ranges, DWORD dwCut = 0) {
  tNACKPacket packet;
  packet.bNumRanges = static_cast<BYTE>(ranges.size());
  for (size_t i = 0; i < ranges.size(); ++i) packet.Ranges[i] = ranges[i];
  std::vector<BYTE> bytes(NACK_PACKET_MAX_LEN);
  bytes.resize(EncodeNACKPacket(packet, bytes.data(), bytes.size()) - dwCut);
  return bytes;
}

// A NACK list feeding its receive queue, as in the receiver.
class Rig {
 public:
  Rig() {
    EXPECT_TRUE(m_queue.Init(korin_test::kMaxPacket));
    EXPECT_TRUE(m_list.InitList(kMinMs, kMaxMs, kCap, &m_queue));
  }

  // Intake as the I/O thread does it; TRUE when the packet went to the queue.
  bool Feed(const Datagram& d) {
    BOOL fIgnore = FALSE;
    if (!m_list.Intake(d.header, d.payload.data(), d.payload.size(), &fIgnore) || fIgnore) {
      return false;
    }
    BYTE* pCopy = new BYTE[d.payload.size() + 1];
    std::memcpy(pCopy, d.payload.data(), d.payload.size());
    m_queue.AddPacket(d.header, pCopy, d.payload.size());
    return true;
  }
  void FeedSources(DWORD dwFrom, DWORD dwTo, const std::set<DWORD>& lost = {}) {
    for (DWORD seq = dwFrom; seq <= dwTo; ++seq) {
      if (!lost.count(seq)) Feed(Source(seq, kK));
    }
  }
  void FeedNACK(const std::vector<BYTE>& bytes) {
    tSRMHeader header;
    DecodeSRMHeader(bytes.data(), &header);
    BOOL fIgnore = FALSE;
    EXPECT_TRUE(m_list.Intake(header, bytes.data() + SRM_HEADER_LEN,
                              bytes.size() - SRM_HEADER_LEN, &fIgnore));
    EXPECT_TRUE(fIgnore);
  }
  // Everything the queue holds: sequence -> payload (repeats must agree).
  std::map<DWORD, std::vector<BYTE>> Drain() {
    std::map<DWORD, std::vector<BYTE>> got;
    std::vector<BYTE> buf(korin_test::kMaxPacket);
    WSABUF wsabuf = {static_cast<ULONG>(buf.size()), reinterpret_cast<char*>(buf.data())};
    OVERLAPPED ov = {};
    ov.hEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
    while (m_queue.Wait(0) == 1) {
      DWORD dwBytes = 0, dwSeq = 0, dwLow = 0;
      BOOL fRel = FALSE, fPending = TRUE;
      EXPECT_TRUE(m_queue.Recv(&wsabuf, 1, &dwBytes, nullptr, nullptr, &ov, nullptr, &dwSeq,
                               &dwLow, &fRel, &fPending));
      if (fPending) break;  // a group that did not decode
      std::vector<BYTE> data(buf.begin(), buf.begin() + dwBytes);
      if (got.count(dwSeq)) {
        EXPECT_EQ(got[dwSeq], data) << "repeat of " << dwSeq << " differs";
      }
      got[dwSeq] = data;
    }
    CloseHandle(ov.hEvent);
    return got;
  }
  tNACKPacket Build() {
    std::vector<BYTE> bytes(NACK_PACKET_MAX_LEN);
    DWORD dwLen = 0;
    EXPECT_TRUE(m_list.BuildNACKPacket(bytes.data(), &dwLen));
    tNACKPacket packet;
    EXPECT_EQ(ParseNACKPacket(bytes.data(), dwLen, &packet), KorinCheck::Ok);
    EXPECT_EQ(dwLen, NACK_PACKET_LEN(packet.bNumRanges));
    return packet;
  }

  CRecvQueue m_queue{kK};
  CNACKlist m_list{kK};
};

class NACKlistTest : public ::testing::Test, public Rig {
 protected:
  void SetUp() override { platform::FakeTickClock::Install(50000); }
  void TearDown() override { platform::FakeTickClock::Uninstall(); }
};

TEST_F(NACKlistTest, GapGivesOneNACKSentAfterItsRandomDelay) {
  FeedSources(4, 5);
  Feed(Source(8, kK));
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
  EXPECT_TRUE(SameRange(m_list.GetNACK(0)->GetRange(), 4, 2, 4, 0));
  const LONG lDelayMs = m_list.GetNACK(0)->MsUntilDue();
  EXPECT_GE(lDelayMs, 100);
  EXPECT_LT(lDelayMs, 4500);

  platform::FakeTickClock::Advance(lDelayMs);
  EXPECT_FALSE(m_list.FirstDue());
  DWORD dwLen = 0;
  BYTE bytes[NACK_PACKET_MAX_LEN];
  EXPECT_FALSE(m_list.BuildNACKPacket(bytes, &dwLen));
  platform::FakeTickClock::Advance(1);
  ASSERT_TRUE(m_list.FirstDue());

  tNACKPacket packet = Build();
  ASSERT_EQ(packet.bNumRanges, 1);
  EXPECT_TRUE(SameRange(packet.Ranges[0], 4, 2, 4, 0));
  EXPECT_EQ(packet.Header.HighRelKey, 8u);
  EXPECT_EQ(packet.Header.IndexMask, 1u);
  EXPECT_EQ(packet.Header.MinSeq, 4u);
  EXPECT_EQ(packet.Header.MaxSeq, 8u);
  EXPECT_EQ(packet.Header.MaxKey, 8u);
  EXPECT_EQ(m_list.GetNACKCount(), 0u);  // waiting for the send's outcome
  m_list.AfterSend(TRUE);
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
}

TEST_F(NACKlistTest, EachSendDoublesTheDelayUpToTheCap) {
  FeedSources(4, 8, {6});
  const int shifts[] = {1, 2, 3, 3, 3};
  for (int nShift : shifts) {
    platform::FakeTickClock::Advance(kMaxMs << kCap);
    Build();
    m_list.AfterSend(TRUE);
    const LONG lDelayMs = m_list.GetNACK(0)->MsUntilDue();
    EXPECT_GE(lDelayMs, static_cast<LONG>(kMinMs << nShift));
    EXPECT_LT(lDelayMs, static_cast<LONG>(kMaxMs << nShift));
  }
  // A failed send keeps the NACK due.
  platform::FakeTickClock::Advance(kMaxMs << kCap);
  Build();
  m_list.AfterSend(FALSE);
  EXPECT_TRUE(m_list.FirstDue());
}

TEST_F(NACKlistTest, OtherReceiversNACKCoveringOursPostponesIt) {
  FeedSources(4, 8, {6, 7});
  const CNACK* pOurs = m_list.GetNACK(0);
  ASSERT_TRUE(SameRange(pOurs->GetRange(), 4, 2, 4, 0));
  ASSERT_EQ(pOurs->GetRetries(), 1);

  // Partial cover, and a covering range beyond the received bytes: nothing changes.
  platform::FakeTickClock::Advance(50);
  const LONG lBefore = pOurs->MsUntilDue();
  FeedNACK(OtherNACK({{{4, 1}, {4, 0}}}));
  FeedNACK(OtherNACK({{{4, 1}, {4, 0}}, {{4, 2}, {4, 0}}}, 1));
  FeedNACK(OtherNACK({{{8, 4}, {12, 1}}}));
  EXPECT_EQ(pOurs->GetRetries(), 1);
  EXPECT_EQ(pOurs->MsUntilDue(), lBefore);

  // A wider range covers ours: re-armed with the doubled delay.
  FeedNACK(OtherNACK({{{0, 4}, {4, 3}}}));
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
  EXPECT_EQ(m_list.GetNACK(0)->GetRetries(), 2);
  EXPECT_GE(m_list.GetNACK(0)->MsUntilDue(), 200);
  EXPECT_LT(m_list.GetNACK(0)->MsUntilDue(), 9000);
}

TEST_F(NACKlistTest, OverdueNACKIsNotHiddenBehindNewerOnes) {
  // Each NACK's due time is on its own clock: ordering compares what is left.
  FeedSources(4, 6, {5});
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
  platform::FakeTickClock::Advance(kMaxMs);
  ASSERT_TRUE(m_list.FirstDue());
  for (DWORD key = 8; key < 48; key += 4) {
    platform::FakeTickClock::Advance(97);  // a new seed, a new delay for each
    FeedSources(key, key + 2, {key + 1});
  }
  ASSERT_EQ(m_list.GetNACKCount(), 11u);
  EXPECT_TRUE(m_list.FirstDue());
  EXPECT_EQ(m_list.GetNACK(0)->GetRange().FirstItem.Key, 4u);
}

TEST_F(NACKlistTest, AtMostSixteenRangesPerPacketTheRestGoNext) {
  std::set<DWORD> lost;
  for (DWORD key = 4; key <= 80; key += 4) lost.insert(key + 1);  // 20 keys
  FeedSources(4, 84, lost);
  ASSERT_EQ(m_list.GetNACKCount(), 20u);
  platform::FakeTickClock::Advance(kMaxMs);
  tNACKPacket first = Build();
  EXPECT_EQ(first.bNumRanges, 16);
  EXPECT_EQ(NACK_PACKET_LEN(first.bNumRanges), 197u);
  m_list.AfterSend(TRUE);
  ASSERT_EQ(m_list.GetNACKCount(), 20u);
  std::set<DWORD> keys;
  for (int i = 0; i < first.bNumRanges; ++i) keys.insert(first.Ranges[i].FirstItem.Key);
  tNACKPacket second = Build();  // the four left out are overdue now: they lead
  ASSERT_EQ(second.bNumRanges, 16);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(keys.count(second.Ranges[i].FirstItem.Key));
    keys.insert(second.Ranges[i].FirstItem.Key);
  }
  EXPECT_EQ(keys.size(), 20u);
}

TEST_F(NACKlistTest, LowWaterDropsNACKsAndStalePackets) {
  FeedSources(4, 8, {6});
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
  EXPECT_TRUE(Feed(Source(12, kK, 12)));
  EXPECT_EQ(m_queue.GetLowWater(), 4u) << "one datagram alone moves no low water";
  EXPECT_TRUE(Feed(Source(13, kK, 12)));
  EXPECT_EQ(m_list.GetNACKCount(), 0u);
  EXPECT_EQ(m_queue.GetLowWater(), 12u);
  EXPECT_FALSE(Feed(Source(6, kK)));  // below the low water
  EXPECT_EQ(m_list.GetNACKCount(), 0u);
}

TEST_F(NACKlistTest, RepairsRestoreEveryLostPacket) {
  struct Case {
    const char* szName;
    std::set<DWORD> lost;
    std::vector<std::pair<DWORD, int>> repairs;  // key, parity index
    bool fHeartbeat;                             // an unreliable packet after the end
  } cases[] = {
      {"middle", {6, 7}, {{4, 4}, {4, 5}}, false},
      {"whole group", {8, 9, 10, 11}, {{8, 4}, {8, 5}, {8, 6}, {8, 7}}, false},
      {"across keys", {7, 8}, {{4, 4}, {8, 4}}, false},
      {"tail", {14, 15}, {{12, 4}, {12, 5}}, true},
      {"tail, later parity first", {13, 15}, {{12, 6}, {12, 4}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.szName);
    Rig rig;
    rig.FeedSources(4, c.fHeartbeat ? 15 : 19, c.lost);
    if (c.fHeartbeat) rig.Feed(Source(15, kK, 4, FALSE));
    EXPECT_GT(rig.m_list.GetNACKCount(), 0u);
    for (auto [dwKey, nIndex] : c.repairs) EXPECT_FALSE(rig.Feed(Parity(dwKey, kK, nIndex)));
    EXPECT_EQ(rig.m_list.GetNACKCount(), 0u);
    std::map<DWORD, std::vector<BYTE>> got = rig.Drain();
    for (DWORD seq = 4; seq <= (c.fHeartbeat ? 15u : 19u); ++seq) {
      ASSERT_TRUE(got.count(seq)) << seq;
      EXPECT_EQ(got[seq], PayloadOf(seq)) << seq;
    }
  }
}

}  // namespace

namespace {

TEST_F(NACKlistTest, ParityPastTheHighestSequenceCountsItselfInTheNACK) {
  FeedSources(4, 5);
  EXPECT_FALSE(Feed(Parity(12, kK, kK)));  // index K of key 12, sequence 15
  ASSERT_EQ(m_list.GetNACKCount(), 1u);
  // 6-7 of key 4, all of key 8, and three more of key 12 besides the parity.
  EXPECT_TRUE(SameRange(m_list.GetNACK(0)->GetRange(), 4, 2, 12, 3));
  EXPECT_EQ(m_list.GetNACK(0)->GetLastCached(), 1);
  FeedSources(6, 14);  // 15 comes only through the parity
  EXPECT_EQ(m_list.GetNACKCount(), 0u);
  std::map<DWORD, std::vector<BYTE>> got = Drain();
  for (DWORD seq = 4; seq <= 15; ++seq) EXPECT_EQ(got[seq], PayloadOf(seq)) << seq;
}

TEST_F(NACKlistTest, PurgeKeepsTheNACKAtExactlyTheLowWatersKey) {
  FeedSources(4, 16, {5, 9, 13});  // NACKs of keys 4, 8 and 12
  ASSERT_EQ(m_list.GetNACKCount(), 3u);
  auto keys = [this] {
    std::set<DWORD> s;
    for (size_t i = 0; i < m_list.GetNACKCount(); ++i)
      s.insert(m_list.GetNACK(i)->GetRange().LastItem.Key);
    return s;
  };
  m_list.PurgeBelow(8);
  EXPECT_EQ(keys(), (std::set<DWORD>{8, 12}));
  m_list.PurgeBelow(11);  // inside key 8: its key is 8
  EXPECT_EQ(keys(), (std::set<DWORD>{8, 12}));
  m_list.PurgeBelow(12);
  EXPECT_EQ(keys(), (std::set<DWORD>{12}));
}

// Datagrams a forging host sends into a genuine stream of K = 4 whose low
// water is 4: none may stop the stream or move what the application sees.
TEST_F(NACKlistTest, ForgedProgressLeavesTheGenuineStreamFlowing) {
  auto forged = [](DWORD dwSeq, DWORD dwLowWater, BOOL fReliable = TRUE) {
    return Source(dwSeq, kK, dwLowWater, fReliable);
  };
  Datagram wrongIndex = Source(9, kK);
  wrongIndex.header.Index = 2;
  struct Case {
    const char* szName;
    Datagram datagram;
    DWORD dwDropped;  // counted as forged
  } cases[] = {
      {"far ahead", forged(0xFFFFFF00u, 0xFFFFFF00u), 1},
      {"far ahead, unreliable", forged(0xFFFFFF00u, 0xFFFFFF00u, FALSE), 1},
      {"just beyond the window", forged(11 + CNACKlist::kSequenceWindow + 1, 12), 1},
      {"low water beyond its packet", forged(9, 16), 1},
      {"low water not a key", forged(9, 6), 1},
      {"index of another sequence", wrongIndex, 1},
      {"a lone plausible low water", forged(9, 8), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.szName);
    Rig rig;
    rig.FeedSources(4, 8);
    rig.Feed(c.datagram);
    EXPECT_EQ(rig.m_list.GetForgedDropped(), c.dwDropped);
    rig.FeedSources(9, 19);
    EXPECT_EQ(rig.m_queue.GetLowWater(), 4u);
    EXPECT_EQ(rig.m_list.GetStats().MaxSeq, 19u);
    std::map<DWORD, std::vector<BYTE>> got = rig.Drain();
    for (DWORD seq = 4; seq <= 19; ++seq) EXPECT_EQ(got[seq], PayloadOf(seq)) << seq;
  }
}

TEST_F(NACKlistTest, AfterSilenceWithinTheWindowTheStreamIsLearnedAgain) {
  // A forged first datagram sets the position; the genuine stream is stale.
  Feed(Source(0xFFFFFF00u, kK, 0xFFFFFF00u));
  Feed(Source(0xFFFFFF01u, kK, 0xFFFFFF00u));
  Drain();
  EXPECT_FALSE(Feed(Source(4, kK)));
  platform::FakeTickClock::Advance(CNACKlist::kStartOverMs);
  FeedSources(4, 11);
  EXPECT_EQ(m_queue.GetLowWater(), 4u);
  std::map<DWORD, std::vector<BYTE>> got = Drain();
  for (DWORD seq = 4; seq <= 11; ++seq) EXPECT_EQ(got[seq], PayloadOf(seq)) << seq;
  // A genuine jump beyond the window, after a silence as long, is followed.
  const DWORD dwFar = 12 + 4 * CNACKlist::kSequenceWindow;
  EXPECT_FALSE(Feed(Source(dwFar, kK, dwFar)));
  platform::FakeTickClock::Advance(CNACKlist::kStartOverMs);
  EXPECT_TRUE(Feed(Source(dwFar, kK, dwFar)));
  EXPECT_TRUE(Feed(Source(dwFar + 1, kK, dwFar)));
  EXPECT_EQ(m_queue.GetLowWater(), dwFar);
}

}  // namespace
