// The repair cache and NACK intake without sockets, on injected ticks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fec/FECVarSize.h"
#include "korin/CacheResendList.h"
#include "korin/NackIntake.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Tick.h"

namespace {

constexpr DWORD kBufSize = 1460;
constexpr DWORD kHoldOffMs = 1000;

struct Repair {
  tSRMHeader header;
  std::vector<BYTE> payload;
};

class RepairCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::FakeTickClock::Install(100000); }
  void TearDown() override {
    platform::SetDebugOutputHook({});
    platform::FakeTickClock::Uninstall();
  }

  void Init(int nK, DWORD dwHoldOffMs = kHoldOffMs,
            DWORD dwMaxBytes = CCacheResendList::kDefaultMaxCachedBytes) {
    m_nK = nK;
    ASSERT_TRUE(m_cache.Init(nK, dwHoldOffMs, dwMaxBytes));
    ASSERT_EQ(m_fec.Init(nK, static_cast<int>(kBufSize)), 0u);
  }

  // The payload of sequence dwSeq: its length varies with the sequence.
  static std::vector<BYTE> PayloadOf(DWORD dwSeq) {
    std::vector<BYTE> payload((dwSeq * 37) % 300 + (dwSeq % 3 == 0 ? 0 : 1));
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq * 13 + i);
    return payload;
  }

  // Stores reliable sequences [dwFirst, dwEnd) as the I/O thread does.
  void StoreSequences(DWORD dwFirst, DWORD dwEnd, DWORD dwLowWater = 4) {
    for (DWORD s = dwFirst; s < dwEnd; ++s) {
      std::vector<BYTE> payload = PayloadOf(s);
      WSABUF buf = {static_cast<ULONG>(payload.size()), reinterpret_cast<char*>(payload.data())};
      ASSERT_TRUE(m_cache.Store(
          MakeDataHeader(TRUE, s, m_nK, dwLowWater, static_cast<WORD>(payload.size())), &buf, 1));
    }
  }

  std::vector<Repair> Drain(size_t nMax = 1000) {
    std::vector<Repair> repairs;
    BYTE buf[kBufSize];
    while (repairs.size() < nMax && m_cache.HasRepairs()) {
      Repair r;
      DWORD dwBytes = 0;
      if (m_cache.NextRepair(buf, sizeof buf, &m_fec, &r.header, &dwBytes)) {
        r.payload.assign(buf, buf + dwBytes);
        repairs.push_back(r);
      }
    }
    return repairs;
  }

  static bool EventSet(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

  int m_nK = 4;
  CCacheResendList m_cache;
  CFECVarSize m_fec;
};

TEST_F(RepairCacheTest, ParityRebuildsLostPacketsWithTheirLengths) {
  Init(4);
  StoreSequences(4, 12, 4);
  StoreSequences(12, 16, 8);  // a later header with a higher low water
  EXPECT_FALSE(EventSet(m_cache.GetRepairReadyEvent()));
  m_cache.Request(12, 2, 12, 0x5);  // sources 12 and 14 held, 13 and 15 lost
  EXPECT_EQ(m_cache.GetRepairsQueued(), 2u);
  EXPECT_TRUE(EventSet(m_cache.GetRepairReadyEvent()));

  std::vector<Repair> repairs = Drain();
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);
  EXPECT_FALSE(EventSet(m_cache.GetRepairReadyEvent()));
  for (size_t i = 0; i < repairs.size(); ++i) {
    const tSRMHeader& h = repairs[i].header;
    EXPECT_EQ(h.Index, 4 + i);
    EXPECT_EQ(h.Key, 12u);
    EXPECT_EQ(h.Sequence, 15u);  // the key's last sequence
    EXPECT_EQ(h.LowWater, 8u);
    EXPECT_TRUE(h.fReliable);
    EXPECT_EQ(h.type, KORIN_TYPE_DATA);
  }

  // What a receiver does: sources 12 and 14 plus the two parity packets.
  std::vector<BYTE> p12 = PayloadOf(12), p14 = PayloadOf(14);
  BYTE* ppPkt[4] = {p12.data(), repairs[0].payload.data(), p14.data(), repairs[1].payload.data()};
  int nIndex[4] = {0, 4, 2, 5};
  int nRecv[4] = {static_cast<int>(p12.size()), static_cast<int>(repairs[0].payload.size()),
                  static_cast<int>(p14.size()), static_cast<int>(repairs[1].payload.size())};
  int nHdr[4] = {static_cast<int>(p12.size()), repairs[0].header.PayloadLen,
                 static_cast<int>(p14.size()), repairs[1].header.PayloadLen};
  std::vector<std::vector<BYTE>> out(4, std::vector<BYTE>(kBufSize));
  BYTE* ppOut[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
  int nOutLens[4] = {};
  ASSERT_EQ(m_fec.Decode(ppPkt, nIndex, nRecv, nHdr, kBufSize, ppOut, nOutLens), 0u);
  for (int i = 0; i < 4; ++i) {
    std::vector<BYTE> expected = PayloadOf(12 + i);
    ASSERT_EQ(nOutLens[i], static_cast<int>(expected.size())) << i;
    EXPECT_EQ(std::vector<BYTE>(out[i].begin(), out[i].begin() + nOutLens[i]), expected) << i;
  }
}

TEST_F(RepairCacheTest, ParityIndexesWrapToTheSourcePackets) {
  Init(4, 0);
  StoreSequences(4, 8);
  std::vector<int> indexes;
  while (indexes.size() < 260) {
    m_cache.Request(4, 4, 4, 0);
    for (const Repair& r : Drain()) {
      indexes.push_back(r.header.Index);
      if (r.header.Index < 4) {
        EXPECT_EQ(r.header.Sequence, 4u + r.header.Index);
        EXPECT_EQ(r.payload, PayloadOf(4 + r.header.Index));
        EXPECT_EQ(r.header.PayloadLen, PayloadOf(4 + r.header.Index).size());
      }
    }
  }
  for (size_t i = 0; i < 252; ++i) ASSERT_EQ(indexes[i], static_cast<int>(4 + i)) << i;
  EXPECT_EQ(indexes[252], 0);
  EXPECT_EQ(indexes[255], 3);
  EXPECT_EQ(indexes[256], 4);
}

TEST_F(RepairCacheTest, RepairsWithinTheHoldOffCountAgainstANack) {
  Init(4);
  StoreSequences(4, 8);
  m_cache.Request(4, 1, 4, 0);
  ASSERT_EQ(Drain().size(), 1u);

  platform::FakeTickClock::Advance(kHoldOffMs - 1);
  m_cache.Request(4, 2, 4, 0);  // one of the two was just sent
  EXPECT_EQ(m_cache.GetRepairsQueued(), 1u);
  ASSERT_EQ(Drain().size(), 1u);
  m_cache.Request(4, 2, 4, 0);  // both were sent within the hold-off
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);

  platform::FakeTickClock::Advance(kHoldOffMs);
  m_cache.Request(4, 2, 4, 0);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 2u);
  // A smaller request while more are queued changes nothing; counts above K
  // are cut to K.
  m_cache.Request(4, 1, 4, 0);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 2u);
  m_cache.Request(4, 200, 4, 0);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 4u);
}

// Once the repair index has wrapped to the source packets, the repairs just
// sent still count against a NACK within the hold-off.
TEST_F(RepairCacheTest, HoldOffHoldsAfterTheIndexWraps) {
  Init(4);
  StoreSequences(4, 8);
  size_t nSent = 0;
  while (nSent < 254) {  // parity 4..255, then sources 0 and 1
    platform::FakeTickClock::Advance(kHoldOffMs);
    m_cache.Request(4, 4, 4, 0);
    nSent += Drain(254 - nSent).size();
  }
  EXPECT_EQ(m_cache.GetRepairsQueued(), 2u);  // left over by the last round
  std::vector<Repair> repairs = Drain();
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(repairs[1].header.Index, 3);
  m_cache.Request(4, 4, 4, 0);  // all four were sent just now
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);
  platform::FakeTickClock::Advance(kHoldOffMs);
  m_cache.Request(4, 4, 4, 0);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 4u);
}

TEST_F(RepairCacheTest, IncompleteKeyResendsTheSourcesTheReceiverLacks) {
  Init(4);
  StoreSequences(4, 10);  // key 8 holds sequences 8 and 9 only
  struct Case {
    const char* szWhat;
    DWORD dwAdvanceMs;
    DWORD dwHighRelKey;
    DWORD dwMask;
    std::vector<int> expected;
  } cases[] = {
      {"within the hold-off of the send", kHoldOffMs - 1, 8, 0, {}},
      {"receiver holds index 0", 1, 8, 0x1, {1}},
      {"receiver's highest key is lower: mask ignored", kHoldOffMs, 4, 0x3, {0, 1}},
      {"receiver past this key", kHoldOffMs, 12, 0, {}},
  };
  for (const Case& c : cases) {
    platform::FakeTickClock::Advance(c.dwAdvanceMs);
    m_cache.Request(8, 2, c.dwHighRelKey, c.dwMask);
    std::vector<int> got;
    for (const Repair& r : Drain()) {
      got.push_back(r.header.Index);
      EXPECT_EQ(r.header.Sequence, 8u + r.header.Index) << c.szWhat;
      EXPECT_EQ(r.payload, PayloadOf(8 + r.header.Index)) << c.szWhat;
    }
    EXPECT_EQ(got, c.expected) << c.szWhat;
  }
}

// With K = 1 the index mask describes only the receiver's highest key; it
// must not stop the resend of an older key the receiver lacks.
TEST_F(RepairCacheTest, SingleKeyGroupsResendOlderKeys) {
  Init(1);
  StoreSequences(1, 4);
  platform::FakeTickClock::Advance(kHoldOffMs);
  m_cache.Request(2, 1, 3, 0x1);
  std::vector<Repair> repairs = Drain();
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].header.Index, 0);
  EXPECT_EQ(repairs[0].header.Sequence, 2u);
  EXPECT_EQ(repairs[0].payload, PayloadOf(2));
  m_cache.Request(3, 1, 3, 0x1);  // the receiver holds its highest key
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);
}

TEST_F(RepairCacheTest, PurgeForgetsKeysAndTheirQueuedRepairs) {
  Init(4);
  StoreSequences(4, 16);
  m_cache.Request(4, 3, 12, 0);
  m_cache.Request(8, 2, 12, 0);
  m_cache.Request(12, 1, 12, 0);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 6u);
  m_cache.Purge(12);  // keys 4 and 8 end below 12
  EXPECT_EQ(m_cache.GetKeysCached(), 1u);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 1u);
  std::vector<Repair> repairs = Drain();
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].header.Key, 12u);

  m_cache.Request(8, 2, 12, 0);
  m_cache.Purge(16);
  EXPECT_EQ(m_cache.GetKeysCached(), 0u);
  EXPECT_FALSE(EventSet(m_cache.GetRepairReadyEvent()));

  std::string trace;
  platform::SetDebugOutputHook([&](std::string_view s) { trace.append(s); });
  m_cache.Request(8, 2, 12, 0);
  EXPECT_NE(trace.find("Nothing cached for NACKed key 8\n"), std::string::npos);
}

TEST_F(RepairCacheTest, BoundDropsTheOldestKeysWithTheirRepairs) {
  // Room for about ten keys of these payloads.
  const DWORD dwBound = 10 * (CCacheResendList::kEntryChargeBytes + 4 * 300);
  Init(4, kHoldOffMs, dwBound);
  StoreSequences(4, 20);
  m_cache.Request(4, 2, 20, 0);
  m_cache.Request(16, 1, 20, 0);
  ASSERT_EQ(m_cache.GetRepairsQueued(), 3u);
  StoreSequences(20, 404);  // a sender whose low water never rises
  EXPECT_LE(m_cache.GetCachedBytes(), dwBound);
  EXPECT_GE(m_cache.GetKeysCached(), 5u);
  EXPECT_EQ(m_cache.GetKeysDropped() + m_cache.GetKeysCached(), 100u);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u) << "the repairs went with their keys";
  EXPECT_FALSE(EventSet(m_cache.GetRepairReadyEvent()));
  // The newest keys are still repaired.
  m_cache.Request(400, 1, 404, 0);
  std::vector<Repair> repairs = Drain();
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].header.Key, 400u);
  m_cache.Purge(404);
  EXPECT_EQ(m_cache.GetCachedBytes(), 0u);
}

class NackIntakeTest : public RepairCacheTest {
 protected:
  std::vector<BYTE> Nack(std::vector<tNACKRange> ranges, DWORD dwHighRelKey = 0) {
    tNACKPacket packet;
    packet.Header.HighRelKey = dwHighRelKey;
    packet.bNumRanges = static_cast<BYTE>(ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) packet.Ranges[i] = ranges[i];
    std::vector<BYTE> bytes(NACK_PACKET_MAX_LEN);
    bytes.resize(EncodeNACKPacket(packet, bytes.data(), NACK_PACKET_MAX_LEN));
    return bytes;
  }
  KorinCheck Handle(const std::vector<BYTE>& bytes, DWORD dwKeyLowWater) {
    return HandleNACK(&m_cache, m_nK, dwKeyLowWater, bytes.data(),
                      static_cast<DWORD>(bytes.size()));
  }
  std::vector<std::pair<DWORD, int>> DrainKeys() {
    std::vector<std::pair<DWORD, int>> keys;
    for (const Repair& r : Drain()) {
      if (keys.empty() || keys.back().first != r.header.Key) keys.push_back({r.header.Key, 0});
      ++keys.back().second;
    }
    return keys;
  }
};

TEST_F(NackIntakeTest, RangesBecomeRequestsAboveTheKeyLowWater) {
  Init(4);
  StoreSequences(4, 24);
  using Keys = std::vector<std::pair<DWORD, int>>;
  // [4.2-16.1]: 2 of key 4, all of 8 and 12, 1 of 16.
  ASSERT_EQ(Handle(Nack({{{4, 2}, {16, 1}}}, 20), 4), KorinCheck::Ok);
  EXPECT_EQ(DrainKeys(), (Keys{{4, 2}, {8, 4}, {12, 4}, {16, 1}}));

  platform::FakeTickClock::Advance(kHoldOffMs);
  // Key low water 12: key 4 and the keys below 12 are skipped.
  Handle(Nack({{{4, 2}, {16, 3}}}, 20), 12);
  EXPECT_EQ(DrainKeys(), (Keys{{12, 4}, {16, 3}}));
  // A range wholly below the key low water is skipped; one for a key never
  // sent finds nothing cached.
  platform::FakeTickClock::Advance(kHoldOffMs);
  Handle(Nack({{{4, 1}, {8, 2}}, {{400, 2}, {400, 0}}}, 20), 12);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);
}

TEST_F(NackIntakeTest, WithKOneTheKeyAtTheKeyLowWaterIsAnswered) {
  Init(1);
  StoreSequences(1, 9, 1);
  m_cache.Purge(5);  // keys 1..4 end below 5
  platform::FakeTickClock::Advance(kHoldOffMs);
  using Keys = std::vector<std::pair<DWORD, int>>;
  ASSERT_EQ(Handle(Nack({{{4, 1}, {4, 0}}, {{5, 1}, {5, 0}}}, 8), 5), KorinCheck::Ok);
  EXPECT_EQ(DrainKeys(), (Keys{{5, 1}}));
  platform::FakeTickClock::Advance(kHoldOffMs);
  ASSERT_EQ(Handle(Nack({{{5, 1}, {6, 1}}}, 8), 5), KorinCheck::Ok);
  EXPECT_EQ(DrainKeys(), (Keys{{5, 1}, {6, 1}}));
}

TEST_F(NackIntakeTest, HostileRangesStayBounded) {
  Init(4);
  StoreSequences(4, 24);
  using Keys = std::vector<std::pair<DWORD, int>>;
  // Keys near the top of the range, an end below the start, a first count
  // of 0 and keys that are not multiples of K.
  ASSERT_EQ(Handle(Nack({{{8, 1}, {0xFFFFFFFCu, 4}},
                         {{0xFFFFFFFCu, 4}, {0xFFFFFFFFu, 255}},
                         {{20, 1}, {4, 2}},
                         {{12, 0}, {16, 2}},
                         {{5, 3}, {7, 3}}},
                        20),
                   4),
            KorinCheck::Ok);
  EXPECT_EQ(DrainKeys(), (Keys{{8, 1}, {12, 4}, {16, 4}, {20, 4}, {4, 2}}));
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);

  // Malformed datagrams queue nothing.
  std::vector<BYTE> bytes = Nack({{{8, 1}, {8, 0}}});
  std::vector<BYTE> noRange = bytes;
  noRange[36] = 0;
  std::vector<BYTE> cut(bytes.begin(), bytes.end() - 1);
  EXPECT_EQ(Handle(noRange, 4), KorinCheck::BadRangeCount);
  EXPECT_EQ(Handle(cut, 4), KorinCheck::TooShort);
  EXPECT_EQ(Handle({}, 4), KorinCheck::Empty);
  EXPECT_EQ(m_cache.GetRepairsQueued(), 0u);
}

}  // namespace
