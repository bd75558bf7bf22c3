#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ErrStuff/DebugTrace.h"
#include "mcast/Lock.h"
#include "mcast/ReqReply.h"
#include "mcast/TickTimer.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

TEST(ReqReplyTest, RequestBeforeTheWorkerWaits) {
  CReqReply rr;
  std::thread worker([&] {
    Sleep(20);  // the request is already set when the worker first looks
    while (WaitForSingleObject(rr.GetReqHandle(), 1000) != WAIT_OBJECT_0) {}
    rr.Reply();
  });
  rr.StopWorker();
  worker.join();
  EXPECT_FALSE(rr.Requested());
  EXPECT_FALSE(rr.Replied());
}

TEST(ReqReplyTest, WorkerThatAlreadyRepliedIsLeftAlone) {
  CReqReply rr;
  std::thread([&] { rr.Reply(); }).join();
  rr.StopWorker();
  EXPECT_TRUE(rr.Replied());     // nothing was reset
  EXPECT_FALSE(rr.Requested());  // and nothing requested
}

TEST(ReqReplyTest, RequestedStaysUntilReset) {
  CReqReply rr;
  EXPECT_FALSE(rr.WaitForReply(0));
  rr.Request();
  rr.Request();
  EXPECT_TRUE(rr.Requested());
  EXPECT_TRUE(rr.Requested());
  rr.Reset();
  EXPECT_FALSE(rr.Requested());
}

TEST(ReqReplyTest, TimedStopFallsBackWhenTheWorkerDoesNotAnswer) {
  CReqReply rr;
  rr.Request();
  EXPECT_FALSE(rr.WaitForReply(10));
  rr.Reply();  // the owner replies itself, then ends the thread
  EXPECT_TRUE(rr.WaitForReply(0));
  rr.Reset();
  EXPECT_FALSE(rr.Replied());
}

TEST(LockTest, GuardLeavesOnEveryExitAndIsRecursive) {
  CLock lock;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      CLockGuard outer(&lock);
      CLockGuard inner(&lock);
      ++counter;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
}

TEST(TickTimerTest, ElapsedAcrossTheWrap) {
  platform::FakeTickClock::Install(0xFFFFFFF0u);
  CTickTimer timer;
  platform::FakeTickClock::Set(0x10);
  EXPECT_EQ(timer.Elapsed(), 32u);
  platform::FakeTickClock::Set(0xFFFFFFF5u);
  EXPECT_EQ(timer.Elapsed(), 5u);
  platform::FakeTickClock::Uninstall();
}

TEST(DebugTraceTest, ThreadIdThenTextAndLongTextIsCut) {
  std::vector<std::string> seen;
  auto prev = platform::SetDebugOutputHook([&](std::string_view s) { seen.emplace_back(s); });
  DWORD tid = 0;
  std::thread([&] {
    tid = GetCurrentThreadId();
    DebugTrace("value %d\n", 7);
    DebugTrace("%s", std::string(1000, 'a').c_str());
  }).join();
  platform::SetDebugOutputHook(prev);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], std::to_string(tid) + " ");
  EXPECT_EQ(seen[1], "value 7\n");
  EXPECT_EQ(seen[3], std::string(255, 'a'));
}
