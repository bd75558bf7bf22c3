// The worker-thread base and the waitable queue.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mcast/McastQueue.h"
#include "mcast/TickTimer.h"
#include "mcast/xThread.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

namespace {

// Polls for the stop request; counts its runs.
class CPollingThread : public CxThread {
 public:
  ~CPollingThread() override { Stop(5000); }
  std::atomic<int> m_nRuns{0};

 protected:
  DWORD ThreadProc() override {
    ++m_nRuns;
    while (!StopRequested()) Sleep(1);
    return 5;
  }
};

// Never looks at the stop request; waits on an event the test never sets.
class CDeafThread : public CxThread {
 public:
  CDeafThread() : m_hNever(CreateEvent(platform::ResetPolicy::Manual,
                                       platform::InitialState::NotSignaled)) {}
  ~CDeafThread() override {
    Stop(0);
    CloseHandle(m_hNever);
  }

 protected:
  DWORD ThreadProc() override {
    WaitForSingleObject(m_hNever, INFINITE);
    return 1;
  }

 private:
  HANDLE m_hNever;
};

struct tItem {
  explicit tItem(int v, std::atomic<int>* pDeleted = nullptr) : n(v), pDeleted(pDeleted) {}
  ~tItem() {
    if (pDeleted != nullptr) ++*pDeleted;
  }
  int n;
  std::atomic<int>* pDeleted;
};

}  // namespace

TEST(CxThreadTest, StartStopAndStartAgain) {
  CPollingThread t;
  EXPECT_EQ(0u, t.Stop(1000));  // idle: nothing to do
  ASSERT_EQ(0u, t.Start());
  EXPECT_EQ(0u, t.Start());  // running: no second thread
  EXPECT_TRUE(t.IsRunning());
  EXPECT_EQ(0u, t.Stop(5000));
  EXPECT_EQ(5u, t.GetExitCode());
  EXPECT_FALSE(t.StopRequested());
  EXPECT_FALSE(t.IsRunning());
  ASSERT_EQ(0u, t.Start());
  EXPECT_EQ(0u, t.Stop(5000));
  EXPECT_EQ(2, t.m_nRuns.load());
}

TEST(CxThreadTest, StopEndsADeafThreadForciblyAtTheLimit) {
  CDeafThread t;
  ASSERT_EQ(0u, t.Start());
  EXPECT_EQ(0u, t.Stop(50));
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.StopRequested());
  EXPECT_FALSE(t.GetReqReply()->Replied());  // reset for a new start
}

TEST(McastQueueTest, FifoAndTheEventFollowsTheContents) {
  CMcastQueue<tItem> q;
  tItem* p = nullptr;
  EXPECT_EQ(0, q.Get(&p, 0, nullptr));  // empty: times out at once
  ASSERT_TRUE(q.Enqueue(new tItem(1)));
  ASSERT_TRUE(q.Enqueue(new tItem(2)));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(q.GetEventHandle(), 0));
  ASSERT_EQ(2, q.Get(&p, 0, nullptr));
  EXPECT_EQ(1, p->n);
  delete p;
  ASSERT_EQ(2, q.Get(&p, 0, nullptr));
  EXPECT_EQ(2, p->n);
  delete p;
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(q.GetEventHandle(), 0));
  EXPECT_EQ(0, q.Get(&p, 10, nullptr));
}

TEST(McastQueueTest, BatchesKeepTheirOrderAndTakeAtMostWhatIsAsked) {
  CMcastQueue<tItem> q;
  tItem items[5] = {tItem(1), tItem(2), tItem(3), tItem(4), tItem(5)};
  tItem* in[5] = {&items[0], &items[1], &items[2], &items[3], &items[4]};
  ASSERT_TRUE(q.EnqueueAll(in, 3));
  ASSERT_TRUE(q.Enqueue(in[3]));
  ASSERT_TRUE(q.EnqueueAll(in + 4, 1));
  tItem* out[5] = {};
  int n = 0;
  ASSERT_EQ(2, q.GetAll(out, 3, &n, 0, nullptr));
  ASSERT_EQ(3, n);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(q.GetEventHandle(), 0));  // two still queued
  ASSERT_EQ(2, q.GetAll(out + 3, 5, &n, 0, nullptr));
  ASSERT_EQ(2, n);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(i + 1, out[i]->n);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(q.GetEventHandle(), 0));
  EXPECT_EQ(0, q.GetAll(out, 5, &n, 0, nullptr));
  EXPECT_EQ(0, n);
}

TEST(McastQueueTest, ItemWinsOverStopAndStopAloneIsReported) {
  CMcastQueue<tItem> q;
  CReqReply stop;
  stop.Request();
  tItem* p = nullptr;
  EXPECT_EQ(1, q.Get(&p, 1000, &stop));
  ASSERT_TRUE(q.Enqueue(new tItem(7)));
  ASSERT_EQ(2, q.Get(&p, 1000, &stop));
  EXPECT_EQ(7, p->n);
  delete p;
  EXPECT_EQ(1, q.Get(&p, 1000, &stop));
}

TEST(McastQueueTest, FlushDeletesOrLeavesAndSkipsNull) {
  std::atomic<int> nDeleted{0};
  CMcastQueue<tItem> q;
  q.Enqueue(new tItem(1, &nDeleted));
  q.Enqueue(nullptr);
  q.Enqueue(new tItem(2, &nDeleted));
  q.Flush();
  EXPECT_EQ(2, nDeleted.load());
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(q.GetEventHandle(), 0));
  tItem kept(3, &nDeleted);
  q.Enqueue(&kept);
  q.Flush(FALSE);  // left to its owner
  EXPECT_EQ(2, nDeleted.load());
}

TEST(McastQueueTest, ProducersAndOneConsumer) {
  CMcastQueue<tItem> q;
  constexpr int kPerProducer = 2000;
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < kPerProducer; ++i) ASSERT_TRUE(q.Enqueue(new tItem(t * kPerProducer + i)));
    });
  std::vector<int> last(4, -1);
  for (int got = 0; got < 4 * kPerProducer; ++got) {
    tItem* p = nullptr;
    ASSERT_EQ(2, q.Get(&p, 10000, nullptr));
    int t = p->n / kPerProducer;
    EXPECT_LT(last[t], p->n);  // each producer's items stay in order
    last[t] = p->n;
    delete p;
  }
  for (auto& th : producers) th.join();
}
