#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CountingStopper.h"
#include "PptThread.h"
#include "orvalo/PPTMsgComm.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "ui/Dialog.h"

namespace {

using bridgetest::CountingStopper;

// How long a test waits for another thread: far beyond what a loaded machine
// under a sanitizer needs.
constexpr std::chrono::seconds kWaitLimit{60};

struct tHandled {
  std::string bytes;
  DWORD dwSeq;
  DWORD dwLowWater;
  DWORD dwThreadId;
};

class RecordingHandler : public CPacketHandler {
 public:
  BOOL HandlePacket(CPacketAndInfo* pPAI) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handled.push_back({std::string(reinterpret_cast<char*>(pPAI->GetPacket()), pPAI->GetLen()),
                         pPAI->GetSeq(), pPAI->GetLowWater(), GetCurrentThreadId()});
    m_cv.notify_all();
    return m_fResult;
  }
  // What was handled once n packets were, or after the time limit.
  std::vector<tHandled> WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, kWaitLimit, [&] { return m_handled.size() >= n; });
    return m_handled;
  }
  // The bytes of the one packet handled once one was, or how many were.
  std::string OnlyPacket() {
    std::vector<tHandled> handled = WaitFor(1);
    if (handled.size() != 1) return "<" + std::to_string(handled.size()) + " packets>";
    return handled[0].bytes;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handled.size();
  }
  BOOL m_fResult = TRUE;  // set before packets flow

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<tHandled> m_handled;  // guarded by m_mutex
};

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDebugOutputHook([](std::string_view) {});  // quiet assertions
    // What earlier tests left in this thread's queue (the quit message of a
    // frame they destroyed) is not this test's.
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { platform::SetDebugOutputHook(nullptr); }

  // Runs task on PowerPoint's thread and returns once it has begun, so that
  // nothing ahead of it is left in the queue.
  static void Occupy(bridgetest::PptThread* pPpt, std::function<void()> task) {
    auto begun = std::make_shared<std::promise<void>>();
    std::future<void> hasBegun = begun->get_future();
    pPpt->Post([begun, task] {
      begun->set_value();
      task();
    });
    ASSERT_EQ(hasBegun.wait_for(kWaitLimit), std::future_status::ready);
  }

  // Posts to hWnd's queue until it is full.
  static void FillQueue(HWND hWnd) {
    while (PostMessage(hWnd, WM_NULL, 0, 0)) {
    }
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  }

  // Takes and dispatches everything queued for this thread.
  static int Pump() {
    int n = 0;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessage(&msg);
      ++n;
    }
    return n;
  }
};

TEST_F(BridgeTest, NothingIsPostedBeforeInitAndInitNeedsParentAndStopper) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  const char packet[] = "early";
  EXPECT_FALSE(bridge.PostPacket(&handler, packet, sizeof packet, 0, 1));
  EXPECT_FALSE(bridge.PostStop());

  HWND hFrame = bridgetest::CreateFrame();
  EXPECT_FALSE(bridge.Init(nullptr, &stopper));
  EXPECT_FALSE(bridge.Init(hFrame, nullptr));
  EXPECT_EQ(bridge.GetHwnd(), nullptr);
  ASSERT_TRUE(bridge.Init(hFrame, &stopper));
  EXPECT_EQ(Pump(), 0);  // the early posts left nothing behind
  EXPECT_EQ(handler.Count(), 0u);
  EXPECT_EQ(stopper.m_nStops.load(), 0);
  EXPECT_FALSE(bridge.PostPacket(&handler, nullptr, 4, 0, 1));
  EXPECT_FALSE(bridge.PostPacket(&handler, packet, 0, 0, 1));
  EXPECT_EQ(Pump(), 0);
  DestroyWindow(hFrame);
}

TEST_F(BridgeTest, HiddenChildWindowOfTheFrame) {
  EXPECT_EQ(g_uReadSocketMsg, RegisterWindowMessage("RERireZiruReadSocket"));
  EXPECT_GE(g_uReadSocketMsg, 0xC000u);
  CPPTMsgComm bridge;
  CountingStopper stopper;
  HWND hFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hFrame, &stopper));
  HWND hWnd = bridge.GetHwnd();
  char buf[64];
  GetClassName(hWnd, buf, sizeof buf);
  EXPECT_STREQ(buf, "orvolaEventCatcher");
  GetWindowText(hWnd, buf, sizeof buf);
  EXPECT_STREQ(buf, "orvalo Event Catcher");
  EXPECT_EQ(GetParent(hWnd), hFrame);
  EXPECT_FALSE(IsWindowVisible(hWnd));

  // A later Init keeps the window; a second bridge cannot register the class.
  HWND hOtherFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hOtherFrame, &stopper));
  EXPECT_EQ(bridge.GetHwnd(), hWnd);
  CPPTMsgComm second;
  EXPECT_FALSE(second.Init(hFrame, &stopper));
  DestroyWindow(hOtherFrame);
  DestroyWindow(hFrame);
}

// The bridge window goes with PowerPoint's frame; a later Init on a new frame
// makes a new one, and packets flow again.
TEST_F(BridgeTest, InitAfterTheFrameWentMakesANewWindow) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  HWND hFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hFrame, &stopper));
  HWND hOld = bridge.GetHwnd();
  DestroyWindow(hFrame);
  EXPECT_FALSE(IsWindow(hOld));
  EXPECT_EQ(bridge.GetHwnd(), nullptr);
  EXPECT_FALSE(bridge.PostPacket(&handler, "lost", 4, 0, 1));

  HWND hNewFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hNewFrame, &stopper));
  ASSERT_NE(bridge.GetHwnd(), nullptr);
  EXPECT_EQ(GetParent(bridge.GetHwnd()), hNewFrame);
  ASSERT_TRUE(bridge.PostPacket(&handler, "again", 5, 0, 2));
  Pump();
  EXPECT_EQ(handler.OnlyPacket(), "again");
  DestroyWindow(hNewFrame);
}

TEST_F(BridgeTest, PacketsFromAnotherThreadAreHandledOnTheWindowThreadInOrder) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  bridgetest::PptThread ppt;
  BOOL fInit = FALSE;
  ppt.Run([&] { fInit = bridge.Init(ppt.frame(), &stopper); });
  ASSERT_TRUE(fInit);

  constexpr DWORD kPackets = 300;
  std::thread listen([&] {
    std::string buf;
    for (DWORD i = 0; i < kPackets; ++i) {
      buf = "packet " + std::to_string(i);
      ASSERT_TRUE(bridge.PostPacket(&handler, buf.data(), static_cast<DWORD>(buf.size()),
                                    /*low water*/ i / 2, /*sequence*/ 1000 + i));
      buf.assign(buf.size(), '#');  // the bridge holds its own copy
    }
    ASSERT_TRUE(bridge.PostStop());
  });
  listen.join();
  std::vector<tHandled> handled = handler.WaitFor(kPackets);
  ASSERT_EQ(handled.size(), kPackets);
  for (DWORD i = 0; i < kPackets; ++i) {
    EXPECT_EQ(handled[i].bytes, "packet " + std::to_string(i));
    EXPECT_EQ(handled[i].dwSeq, 1000 + i);
    EXPECT_EQ(handled[i].dwLowWater, i / 2);
    EXPECT_EQ(handled[i].dwThreadId, ppt.threadId());
  }
  std::promise<void> behindStop;  // posted messages are taken in order
  ppt.Post([&] { behindStop.set_value(); });
  behindStop.get_future().wait();
  EXPECT_EQ(stopper.m_nStops.load(), 1);
  EXPECT_EQ(stopper.m_dwThreadId.load(), ppt.threadId());
  ppt.Run([&] { bridge.Clear(); });
}

TEST_F(BridgeTest, ClearDropsQueuedPacketsAndTheirMessagesDoNothing) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  HWND hFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hFrame, &stopper));
  const char packet[] = "dropped";
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(bridge.PostPacket(&handler, packet, sizeof packet, 0, i));
  bridge.Clear();
  EXPECT_EQ(Pump(), 3);
  EXPECT_EQ(handler.Count(), 0u);

  // A stale message may hand a newer entry over early; each is handled once.
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(bridge.PostPacket(&handler, packet, sizeof packet, 0, i));
  bridge.Clear();
  ASSERT_TRUE(bridge.PostPacket(&handler, "kept", 4, 0, 9));
  EXPECT_EQ(Pump(), 3);
  EXPECT_EQ(handler.OnlyPacket(), "kept");
  DestroyWindow(hFrame);
}

TEST_F(BridgeTest, MessageKinds) {
  CPPTMsgComm bridge;
  // Before Init: no stopper, no queue.
  EXPECT_EQ(bridge.OnMessage(CPPTMsgComm::kStop, 0), 1);
  EXPECT_EQ(bridge.OnMessage(CPPTMsgComm::kPacket, 0), 1);

  RecordingHandler handler;
  CountingStopper stopper;
  HWND hFrame = bridgetest::CreateFrame();
  ASSERT_TRUE(bridge.Init(hFrame, &stopper));
  HWND hWnd = bridge.GetHwnd();
  ASSERT_TRUE(bridge.PostPacket(&handler, "x", 1, 0, 0));
  for (WPARAM kind : {WPARAM{0}, WPARAM{65}, WPARAM{67}, WPARAM{76}, WPARAM{78}, WPARAM{0xFFFF}}) {
    EXPECT_EQ(SendMessage(hWnd, g_uReadSocketMsg, kind, 0), 0) << kind;
  }
  EXPECT_EQ(handler.Count(), 0u);  // the queued packet is still there
  EXPECT_EQ(stopper.m_nStops.load(), 0);
  handler.m_fResult = FALSE;
  EXPECT_EQ(SendMessage(hWnd, g_uReadSocketMsg, CPPTMsgComm::kPacket, 0), 0);  // handler failed
  EXPECT_EQ(handler.Count(), 1u);
  EXPECT_EQ(SendMessage(hWnd, g_uReadSocketMsg, CPPTMsgComm::kStop, 0), 1);
  EXPECT_EQ(stopper.m_nStops.load(), 1);
  Pump();
  bridge.Clear();
  DestroyWindow(hFrame);
}

TEST_F(BridgeTest, PostWaitsWhilePowerPointsQueueIsFull) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  bridgetest::PptThread ppt;
  ppt.Run([&] { ASSERT_TRUE(bridge.Init(ppt.frame(), &stopper)); });

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  Occupy(&ppt, [released] { released.wait(); });  // PowerPoint is busy
  FillQueue(ppt.frame());
  std::atomic<BOOL> fPosted{-1};
  std::thread listen([&] { fPosted = bridge.PostPacket(&handler, "late", 4, 0, 5); });
  Sleep(50);            // let the listen thread meet the full queue
  release.set_value();  // PowerPoint works through its queue; the retry gets in
  listen.join();
  EXPECT_TRUE(fPosted.load());
  EXPECT_EQ(handler.OnlyPacket(), "late");
}

// A poster whose owner asks it to stop gives up on a full queue (the owner
// may be PowerPoint's thread, waiting for it), and so does PowerPoint's own
// thread, whose queue cannot drain while it waits; the packet is dropped.
TEST_F(BridgeTest, PostGivesUpOnAFullQueueWhenCancelledOrOnTheWindowsThread) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  bridgetest::PptThread ppt;
  ppt.Run([&] { ASSERT_TRUE(bridge.Init(ppt.frame(), &stopper)); });

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<BOOL> fOwnPost{-1};
  std::atomic<BOOL> fOwnStop{-1};
  Occupy(&ppt, [&, released] {
    released.wait();
    FillQueue(ppt.frame());
    fOwnPost = bridge.PostPacket(&handler, "own", 3, 0, 1);
    fOwnStop = bridge.PostStop();
  });
  FillQueue(ppt.frame());
  HANDLE hCancel = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  std::atomic<BOOL> fPosted{-1};
  std::thread listen([&] { fPosted = bridge.PostPacket(&handler, "late", 4, 0, 5, hCancel); });
  Sleep(50);  // let the listen thread meet the full queue
  SetEvent(hCancel);
  listen.join();
  EXPECT_FALSE(fPosted.load());
  CloseHandle(hCancel);

  std::promise<void> drained;
  release.set_value();
  // Behind everything queued: once it runs, the packets have had their chance.
  ppt.Post([&] { drained.set_value(); });
  ASSERT_EQ(drained.get_future().wait_for(kWaitLimit), std::future_status::ready);
  EXPECT_FALSE(fOwnPost.load());
  EXPECT_FALSE(fOwnStop.load());
  EXPECT_EQ(handler.Count(), 0u);
  EXPECT_EQ(stopper.m_nStops.load(), 0);
}

// A window that is gone never takes a message: posting gives up instead of
// retrying for ever.
TEST_F(BridgeTest, PostFailsOnceTheWindowThreadHasEnded) {
  CPPTMsgComm bridge;
  RecordingHandler handler;
  CountingStopper stopper;
  {
    bridgetest::PptThread ppt;
    ppt.Run([&] { ASSERT_TRUE(bridge.Init(ppt.frame(), &stopper)); });
  }
  EXPECT_FALSE(bridge.PostPacket(&handler, "lost", 4, 0, 1));
  EXPECT_FALSE(bridge.PostStop());
  EXPECT_EQ(handler.Count(), 0u);
}

}  // namespace
