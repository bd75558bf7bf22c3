#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "WindowThread.h"
#include "platform/Errors.h"

namespace {

constexpr UINT kMsgValue = WM_USER + 1;
constexpr UINT kMsgDone = WM_USER + 2;

TEST(RegisteredMessageTest, SameNameSameNumber) {
  UINT a = RegisterWindowMessage("RERireZiruReadSocket");
  UINT b = RegisterWindowMessage("OtherMessage");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_GE(b, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterWindowMessage("rerireziruREADSOCKET"), a);
  UINT fromThread = 0;
  std::thread([&] { fromThread = RegisterWindowMessage("RERireZiruReadSocket"); }).join();
  EXPECT_EQ(fromThread, a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

// The tests share the main thread's queue: each leaves it empty for the next.
class MessageQueueTest : public ::testing::Test {
 protected:
  void TearDown() override {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

TEST_F(MessageQueueTest, PostsFromOtherThreadsRunOnTheWindowThreadInOrder) {
  std::mutex mutex;
  std::vector<WPARAM> seen;  // guarded by mutex
  std::atomic<DWORD> dwHandlerThread{0};
  std::promise<void> done;
  uitest::WindowThread wt([&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == kMsgValue) {
      dwHandlerThread = GetCurrentThreadId();
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(wp);
      return 0;
    }
    if (msg == kMsgDone) {
      done.set_value();
      return 0;
    }
    return DefWindowProc(h, msg, wp, lp);
  });
  std::thread poster([&] {
    for (WPARAM i = 0; i < 500; ++i) ASSERT_TRUE(PostMessage(wt.hwnd(), kMsgValue, i, 0));
    PostMessage(wt.hwnd(), kMsgDone, 0, 0);
  });
  poster.join();
  done.get_future().wait();
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(seen.size(), 500u);
  for (WPARAM i = 0; i < 500; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_EQ(dwHandlerThread.load(), wt.threadId());
}

TEST_F(MessageQueueTest, SendFromAnotherThreadRunsThereAndWaitsForTheResult) {
  uitest::Handler replyHandler = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == kMsgValue) return static_cast<LRESULT>(wp * 2);
    return DefWindowProc(h, msg, wp, lp);
  };
  HWND hHere = uitest::CreateTestWindow(&replyHandler);  // this thread answers while it waits
  uitest::WindowThread wt([&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == kMsgValue) {
      // Sends back to the waiting sender's window: must not deadlock.
      return 1000 + SendMessage(hHere, kMsgValue, wp, 0);
    }
    return DefWindowProc(h, msg, wp, lp);
  });
  EXPECT_EQ(SendMessage(wt.hwnd(), kMsgValue, 21, 0), 1042);
  DestroyWindow(hHere);
}

TEST_F(MessageQueueTest, SenderToAThreadThatEndsGetsZero) {
  std::promise<HWND> created;
  std::promise<void> release;
  std::thread owner([&] {
    created.set_value(uitest::CreateTestWindow(nullptr));
    release.get_future().wait();  // never takes a message
  });
  HWND hwnd = created.get_future().get();
  std::thread sender([&] { EXPECT_EQ(SendMessage(hwnd, kMsgValue, 1, 0), 0); });
  release.set_value();
  owner.join();
  sender.join();
}

TEST_F(MessageQueueTest, QuitComesAfterEarlierPostsAndPeekCanLeaveMessages) {
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PostMessage(nullptr, kMsgValue, 7, 0));
  PostQuitMessage(3);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, kMsgValue);
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, kMsgValue);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, FullQueueRefusesPosts) {
  HWND hwnd = uitest::CreateTestWindow(nullptr);
  for (size_t i = 0; i < kPostedMessageLimit; ++i) ASSERT_TRUE(PostMessage(hwnd, WM_NULL, 0, 0));
  EXPECT_FALSE(PostMessage(hwnd, WM_NULL, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_TRUE(PostMessage(hwnd, WM_NULL, 0, 0));
  DestroyWindow(hwnd);
}

TEST_F(MessageQueueTest, TimersTickOnTheOwningThreadUntilKilled) {
  std::atomic<int> nTicks{0};
  std::atomic<DWORD> dwTickThread{0};
  std::promise<void> threeTicks;
  uitest::WindowThread wt([&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == WM_TIMER && wp == 5) {
      dwTickThread = GetCurrentThreadId();
      if (++nTicks == 3) {
        KillTimer(h, 5);
        threeTicks.set_value();
      }
      return 0;
    }
    return DefWindowProc(h, msg, wp, lp);
  });
  EXPECT_EQ(SetTimer(wt.hwnd(), 5, 20, nullptr), 5u);  // set from this thread, runs there
  threeTicks.get_future().wait();
  EXPECT_EQ(dwTickThread.load(), wt.threadId());
  EXPECT_FALSE(KillTimer(wt.hwnd(), 5));
  EXPECT_EQ(nTicks.load(), 3);
}

// A handler that runs its own loop, as a modal receive does, while the outer
// loop's messages wait.
TEST_F(MessageQueueTest, NestedLoopRunsTimersInsideAnOuterDispatch) {
  std::vector<std::string> events;
  int nTicks = 0;
  uitest::Handler handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == kMsgValue && wp == 1) {
      events.push_back("inner start");
      SetTimer(h, 1, 10, nullptr);
      MSG m;
      while (GetMessage(&m, nullptr, 0, 0) > 0) {
        if (m.message == kMsgDone) break;
        if (m.message == WM_TIMER && ++nTicks == 3) PostMessage(h, kMsgDone, 0, 0);
        DispatchMessage(&m);
      }
      KillTimer(h, 1);
      events.push_back("inner end");
      return 0;
    }
    if (msg == kMsgValue) {
      events.push_back("outer " + std::to_string(wp));
      return 0;
    }
    return DefWindowProc(h, msg, wp, lp);
  };
  HWND hwnd = uitest::CreateTestWindow(&handler);
  PostMessage(hwnd, kMsgValue, 1, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  DispatchMessage(&m);
  EXPECT_EQ(nTicks, 3);
  PostMessage(hwnd, kMsgValue, 2, 0);
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  DispatchMessage(&m);
  EXPECT_EQ(events, (std::vector<std::string>{"inner start", "inner end", "outer 2"}));
  DestroyWindow(hwnd);
}

}  // namespace
