// The audience engine's listen thread and the message bridge on this host:
// packets from a foreign source reach HandlePacket on the window's thread,
// and Disconnect returns even while the listen thread meets a full queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "mcast/Multicast.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/PPTMsgComm.h"
#include "platform/DebugOutput.h"
#include "tests/mcast/TestGroup.h"
#include "tests/orvalo_bridge/PptThread.h"
#include "tests/orvalo_engines/FakeCOA.h"
#include "tests/orvalo_engines/ForeignSender.h"
#include "tests/orvalo_engines/SlidePackets.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

using engines_test::StatePacket;

// Ends the process if the guarded call does not return in time, so that a
// hang fails the test instead of stopping the run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : m_thread([this, limit] {
          std::unique_lock<std::mutex> lock(m_mutex);
          if (!m_cv.wait_for(lock, limit, [this] { return m_fDone; })) {
            std::fprintf(stderr, "watchdog: the call did not return\n");
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_fDone = true;
    }
    m_cv.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_fDone = false;  // guarded by m_mutex
  std::thread m_thread;
};

class AudienceLiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    fake_coa::Reset();
    m_hFrame = bridgetest::CreateFrame("Audience");
    ASSERT_TRUE(g_PPTMsgComm.Init(m_hFrame, &m_audience));
    ASSERT_TRUE(m_audience.Init(m_group.sAddr.c_str(), m_group.wPort, 1, 0, "", "", "", ""));
    ASSERT_TRUE(m_sender.Ok());
  }
  void TearDown() override {
    m_audience.Disconnect();
    Drain();
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  // Takes and dispatches this thread's messages until none is left.
  static void Drain() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  // Sends states (times from dwFirstTime) until one reaches this thread's
  // queue as a bridge message; false if none comes within about 20 s.
  bool SendUntilPosted(DWORD dwFirstTime, DWORD dwSlide) {
    for (DWORD i = 0; i < 2000; ++i) {
      m_sender.Send(StatePacket({.dwSlide = dwSlide, .dwTime = dwFirstTime + i}));
      MSG msg;
      if (PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message == g_uReadSocketMsg) {
        return true;
      }
      Sleep(10);
    }
    return false;
  }

  ScopedTmpDir m_tmp;
  mcast_test::TestGroup m_group = mcast_test::NextTestGroup();
  engines_test::CForeignSender m_sender{m_group.sAddr, m_group.wPort};
  CAudienceMember m_audience;
  HWND m_hFrame = nullptr;
};

TEST_F(AudienceLiveTest, PacketsReachTheHandlerOnTheWindowsThread) {
  ASSERT_TRUE(SendUntilPosted(10, 4));
  Drain();
  EXPECT_EQ(m_audience.GetState().dwSlide, 4u);
  EXPECT_FALSE(fake_coa::CallsStartingWith("GoTo 4 0").empty());
}

TEST_F(AudienceLiveTest, DisconnectReturnsWhileTheQueueIsFull) {
  ASSERT_TRUE(SendUntilPosted(10, 2));
  // PowerPoint's queue fills; the listen thread meets it with the next packet.
  while (PostMessage(m_hFrame, WM_NULL, 0, 0)) {
  }
  std::atomic<bool> fStop{false};
  std::thread source([&] {
    for (DWORD dwTime = 5000; !fStop; ++dwTime) {
      m_sender.Send(StatePacket({.dwSlide = 3, .dwTime = dwTime}));
      Sleep(5);
    }
  });
  // Wait until the listen thread meets the full queue.
  std::mutex mutex;
  std::string sTrace;  // guarded by mutex
  platform::SetDebugOutputHook([&](std::string_view s) {
    std::lock_guard<std::mutex> lock(mutex);
    sTrace.append(s);
  });
  auto traced = [&](const char* sz) {
    std::lock_guard<std::mutex> lock(mutex);
    return sTrace.find(sz) != std::string::npos;
  };
  for (int i = 0; i < 2000 && !traced("the queue is full"); ++i) Sleep(10);
  EXPECT_TRUE(traced("the queue is full"));
  {
    Watchdog watchdog(std::chrono::seconds(60));
    m_audience.Disconnect();
  }
  fStop = true;
  source.join();
  platform::SetDebugOutputHook(nullptr);
  EXPECT_TRUE(traced("post cancelled"));
  EXPECT_FALSE(m_audience.IsConnected());
  Drain();  // the messages that did get in find nothing to hand over
  EXPECT_TRUE(fake_coa::CallsStartingWith("GoTo 3").empty());
}

}  // namespace
