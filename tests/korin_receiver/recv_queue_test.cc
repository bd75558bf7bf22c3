#include "korin/RecvQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "korin/FECGroup.h"
#include "platform/Handle.h"
#include "tests/korin_receiver/Packets.h"

namespace {

using korin_test::Datagram;
using korin_test::Parity;
using korin_test::PayloadOf;
using korin_test::Source;

constexpr int kK = 4;

BYTE* CopyOf(const std::vector<BYTE>& payload) {
  BYTE* p = new BYTE[payload.empty() ? 1 : payload.size()];
  if (!payload.empty()) std::memcpy(p, payload.data(), payload.size());
  return p;
}

// A full group of dwKey holding the given source indexes and enough parity.
CFECGroup* FullGroup(DWORD dwKey, std::vector<int> sources) {
  auto* pGroup = new CFECGroup(kK);
  pGroup->SetFECKey(dwKey);
  BOOL fNotStored = TRUE;
  for (int i : sources) {
    Datagram d = Source(dwKey + i, kK);
    pGroup->AddPacket(d.payload.data(), d.payload.size(), d.header, &fNotStored);
  }
  for (int p = kK; !pGroup->Full(); ++p) {
    Datagram d = Parity(dwKey, kK, p);
    pGroup->AddPacket(d.payload.data(), d.payload.size(), d.header, &fNotStored);
  }
  return pGroup;
}

struct Received {
  std::vector<BYTE> data;
  DWORD dwSequence = 0;
  DWORD dwLowWater = 0;
  BOOL fReliable = FALSE;
};

// A receive call against the queue, as CKORINreceiver makes it.
class Receiver {
 public:
  Receiver() : m_buf(korin_test::kMaxPacket) {
    m_ov.hEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
    m_wsabuf.len = static_cast<ULONG>(m_buf.size());
    m_wsabuf.buf = reinterpret_cast<char*>(m_buf.data());
  }
  ~Receiver() { CloseHandle(m_ov.hEvent); }

  // Starts a receive; TRUE when it completed at once.
  BOOL Start(CRecvQueue* pQueue) {
    BOOL fPending = FALSE;
    EXPECT_TRUE(pQueue->Recv(&m_wsabuf, 1, &m_dwBytes, nullptr, nullptr, &m_ov, nullptr,
                             &m_dwSeq, &m_dwLowWater, &m_fReliable, &fPending));
    return !fPending;
  }
  BOOL Completed() { return WaitForSingleObject(m_ov.hEvent, 0) == WAIT_OBJECT_0; }
  Received Result() const {
    Received r;
    r.data.assign(m_buf.begin(), m_buf.begin() + std::min<size_t>(m_dwBytes, m_buf.size()));
    r.dwSequence = m_dwSeq;
    r.dwLowWater = m_dwLowWater;
    r.fReliable = m_fReliable;
    return r;
  }
  void Shrink(ULONG len) { m_wsabuf.len = len; }
  DWORD Bytes() const { return m_dwBytes; }

 private:
  std::vector<BYTE> m_buf;
  WSABUF m_wsabuf;
  OVERLAPPED m_ov = {};
  DWORD m_dwBytes = 0, m_dwSeq = 0, m_dwLowWater = 0;
  BOOL m_fReliable = FALSE;
};

Received Take(CRecvQueue* pQueue) {
  Receiver r;
  EXPECT_TRUE(r.Start(pQueue)) << "nothing ready";
  return r.Result();
}

class RecvQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_queue.Init(korin_test::kMaxPacket)); }
  void AddSource(DWORD dwSeq, DWORD dwLowWater = 4, BOOL fReliable = TRUE) {
    Datagram d = Source(dwSeq, kK, dwLowWater, fReliable);
    EXPECT_TRUE(m_queue.AddPacket(d.header, CopyOf(d.payload), d.payload.size()));
  }
  CRecvQueue m_queue{kK};
};

TEST_F(RecvQueueTest, SinglesInArrivalOrderThenGroupsAsConsecutiveReliableSequences) {
  EXPECT_EQ(m_queue.Wait(0), 0);
  AddSource(9);
  AddSource(8);
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(8, {0, 1})));  // 8 and 9 came before
  AddSource(13, 4, FALSE);                              // queued after the group
  EXPECT_EQ(m_queue.Wait(0), 1);

  std::vector<DWORD> order;
  for (int i = 0; i < 7; ++i) {
    Received r = Take(&m_queue);
    order.push_back(r.dwSequence);
    EXPECT_EQ(r.data, PayloadOf(r.dwSequence)) << r.dwSequence;
    EXPECT_EQ(r.fReliable, r.dwSequence != 13) << r.dwSequence;
  }
  EXPECT_EQ(order, (std::vector<DWORD>{9, 8, 13, 8, 9, 10, 11}));
  EXPECT_EQ(m_queue.Wait(0), 0);
}

TEST_F(RecvQueueTest, WaitingReceiveGetsPacketsAndGroups) {
  Receiver first;
  ASSERT_FALSE(first.Start(&m_queue));
  AddSource(5, 4);
  ASSERT_TRUE(first.Completed());
  EXPECT_EQ(first.Result().dwSequence, 5u);
  EXPECT_EQ(first.Result().dwLowWater, 4u);  // the header's own low water
  EXPECT_EQ(first.Result().data, PayloadOf(5));
  EXPECT_EQ(m_queue.Wait(0), 0);

  Receiver second;
  ASSERT_FALSE(second.Start(&m_queue));
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(4, {1})));
  ASSERT_TRUE(second.Completed());
  EXPECT_EQ(second.Result().dwSequence, 4u);
  EXPECT_TRUE(second.Result().fReliable);
  EXPECT_EQ(second.Result().data, PayloadOf(4));
  for (DWORD seq = 5; seq < 8; ++seq) EXPECT_EQ(Take(&m_queue).dwSequence, seq);
}

// A full group whose last parity arrived cut short: it cannot decode.
CFECGroup* BrokenGroup(DWORD dwKey) {
  auto* pGroup = new CFECGroup(kK);
  pGroup->SetFECKey(dwKey);
  BOOL fNotStored = TRUE;
  Datagram s = Source(dwKey, kK);
  pGroup->AddPacket(s.payload.data(), s.payload.size(), s.header, &fNotStored);
  for (int i = kK; i < kK + 3; ++i) {
    Datagram p = Parity(dwKey, kK, i);
    pGroup->AddPacket(p.payload.data(), i == kK + 2 ? 2 : p.payload.size(), p.header,
                      &fNotStored);
  }
  EXPECT_TRUE(pGroup->Full());
  return pGroup;
}

TEST_F(RecvQueueTest, GroupThatFailsToDecodeIsDroppedWithoutLosingTheWaitingReceive) {
  Receiver waiting;
  ASSERT_FALSE(waiting.Start(&m_queue));
  ASSERT_TRUE(m_queue.AddGroup(BrokenGroup(4)));
  EXPECT_FALSE(waiting.Completed());
  EXPECT_EQ(m_queue.Wait(0), 0);
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(8, {})));
  ASSERT_TRUE(waiting.Completed());
  EXPECT_EQ(waiting.Result().dwSequence, 8u);
  EXPECT_EQ(waiting.Result().data, PayloadOf(8));
  for (DWORD seq = 9; seq < 12; ++seq) EXPECT_EQ(Take(&m_queue).data, PayloadOf(seq));

  // With nobody waiting it is not ready either: a reader that polls Wait and
  // then calls Receive must not block.
  ASSERT_TRUE(m_queue.AddGroup(BrokenGroup(12)));
  EXPECT_EQ(m_queue.Wait(0), 0);
  EXPECT_EQ(m_queue.GetGroupsUndecodable(), 2u);
  Receiver later;
  ASSERT_FALSE(later.Start(&m_queue));
  AddSource(17);
  ASSERT_TRUE(later.Completed());
  EXPECT_EQ(later.Result().dwSequence, 17u);
}

TEST(RecvQueueBound, UnreadEntriesBeyondTheBoundDropTheOldestAndAreCounted) {
  // Room for about six queued packets of these sizes.
  const DWORD dwBound = 6 * (static_cast<DWORD>(PayloadOf(4).size()) + 400);
  CRecvQueue queue(kK);
  ASSERT_TRUE(queue.Init(korin_test::kMaxPacket, dwBound));
  for (DWORD seq = 4; seq < 104; ++seq) {
    Datagram d = Source(seq, kK);
    ASSERT_TRUE(queue.AddPacket(d.header, CopyOf(d.payload), d.payload.size()));
    EXPECT_LE(queue.GetQueuedBytes(), dwBound);
  }
  for (DWORD key = 104; key < 124; key += kK) {
    ASSERT_TRUE(queue.AddGroup(FullGroup(key, {0})));
    EXPECT_LE(queue.GetQueuedBytes(), dwBound);
  }
  // What is left is the newest, in order; everything else was counted.
  std::vector<DWORD> got;
  while (queue.Wait(0) == 1) {
    Received r = Take(&queue);
    EXPECT_EQ(r.data, PayloadOf(r.dwSequence));
    got.push_back(r.dwSequence);
  }
  ASSERT_FALSE(got.empty());
  for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i], got[i - 1] + 1);
  EXPECT_EQ(got.back(), 123u);
  EXPECT_EQ(queue.GetPacketsDropped() + got.size(), 100u + 20u);
  EXPECT_EQ(queue.GetQueuedBytes(), 0u);
}

TEST_F(RecvQueueTest, LowWaterDropsQueuedGroupsBelowItsKey) {
  AddSource(5);
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(4, {0})));
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(8, {0})));
  ASSERT_TRUE(m_queue.AddGroup(FullGroup(12, {0})));
  m_queue.SetLowWater(14);  // key 12
  EXPECT_EQ(m_queue.GetLowWater(), 14u);
  m_queue.SetLowWater(13);  // not above: nothing changes
  EXPECT_EQ(m_queue.GetLowWater(), 14u);

  Received single = Take(&m_queue);  // queued singles stay
  EXPECT_EQ(single.dwSequence, 5u);
  EXPECT_EQ(single.dwLowWater, 14u);
  for (DWORD seq = 12; seq < 16; ++seq) EXPECT_EQ(Take(&m_queue).dwSequence, seq);
  EXPECT_EQ(m_queue.Wait(0), 0);
}

TEST_F(RecvQueueTest, LowWaterTwelveDropsGroupsFourAndEight) {
  for (DWORD key : {4u, 8u, 12u}) ASSERT_TRUE(m_queue.AddGroup(FullGroup(key, {1})));
  m_queue.SetLowWater(12);
  EXPECT_EQ(Take(&m_queue).dwSequence, 12u);
}

TEST_F(RecvQueueTest, ShortBufferKeepsTheWholeLength) {
  AddSource(6);
  Receiver r;
  r.Shrink(3);
  ASSERT_TRUE(r.Start(&m_queue));
  const std::vector<BYTE> whole = PayloadOf(6);
  const std::vector<BYTE> got = r.Result().data;
  EXPECT_EQ(r.Bytes(), whole.size());
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 3, got.begin()));
}

// A queue whose next queued-packet record cannot be allocated.
class StarvedQueue : public CRecvQueue {
 public:
  StarvedQueue() : CRecvQueue(kK) {}
  int m_nFailures = 0;

 protected:
  tQueuedPacket* NewQueuedPacket() override {
    if (m_nFailures > 0) {
      --m_nFailures;
      return nullptr;
    }
    return CRecvQueue::NewQueuedPacket();
  }
};

TEST(RecvQueueAlloc, RecordThatCannotBeAllocatedLosesThatPacketOnly) {
  StarvedQueue queue;
  ASSERT_TRUE(queue.Init(korin_test::kMaxPacket));
  Datagram a = Source(4, kK), b = Source(5, kK), c = Source(6, kK);
  ASSERT_TRUE(queue.AddPacket(a.header, CopyOf(a.payload), a.payload.size()));
  queue.m_nFailures = 1;
  EXPECT_FALSE(queue.AddPacket(b.header, CopyOf(b.payload), b.payload.size()));
  ASSERT_TRUE(queue.AddPacket(c.header, CopyOf(c.payload), c.payload.size()));
  EXPECT_EQ(Take(&queue).dwSequence, 4u);
  EXPECT_EQ(Take(&queue).dwSequence, 6u);
  // A waiting receive needs no record.
  Receiver waiting;
  ASSERT_FALSE(waiting.Start(&queue));
  queue.m_nFailures = 1;
  ASSERT_TRUE(queue.AddPacket(b.header, CopyOf(b.payload), b.payload.size()));
  ASSERT_TRUE(waiting.Completed());
  EXPECT_EQ(waiting.Result().dwSequence, 5u);
}

TEST(RecvQueueK1, NoGroupIsEverStored) {
  CFECGroup group(1);
  group.SetFECKey(3);
  Datagram d = Source(3, 1);
  BOOL fNotStored = FALSE;
  EXPECT_TRUE(group.AddPacket(d.payload.data(), d.payload.size(), d.header, &fNotStored));
  EXPECT_TRUE(fNotStored);
  EXPECT_EQ(group.GetNumCached(), 0);
  EXPECT_FALSE(group.Full());
}

}  // namespace
