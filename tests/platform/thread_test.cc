#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>

#include "platform/Handle.h"
#include "platform/Random.h"

namespace {

DWORD ReturnParam(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(p)); }

DWORD WaitForever(LPVOID p) {
  static_cast<std::atomic<bool>*>(p)->store(true);
  HANDLE never = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  WaitForSingleObject(never, INFINITE);
  CloseHandle(never);
  return 1;
}

}  // namespace

TEST(ThreadTest, HandleSignalsAtEndWithExitCode) {
  DWORD tid = 0;
  HANDLE h = CreateThread(ReturnParam, reinterpret_cast<LPVOID>(42), &tid);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(tid, 0u);
  EXPECT_NE(tid, GetCurrentThreadId());
  EXPECT_TRUE(SetThreadPriority(h, THREAD_PRIORITY_ABOVE_NORMAL));
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(h));
}

// Lowering a priority needs no privilege, so its effect shows everywhere.
TEST(ThreadTest, PriorityRightAfterCreationReachesTheThread) {
  struct tShared {
    HANDLE hGo = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
    std::atomic<int> nNice{-100};
  } shared;
  errno = 0;
  const int nOwnNice = getpriority(PRIO_PROCESS, 0);
  if (nOwnNice > 2) GTEST_SKIP() << "this process runs at nice " << nOwnNice;
  HANDLE h = CreateThread(
      [](LPVOID p) -> DWORD {
        auto* pShared = static_cast<tShared*>(p);
        WaitForSingleObject(pShared->hGo, INFINITE);
        pShared->nNice = getpriority(PRIO_PROCESS, 0);  // this thread's own
        return 0;
      },
      &shared, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(SetThreadPriority(h, THREAD_PRIORITY_BELOW_NORMAL));
  SetEvent(shared.hGo);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(shared.nNice.load(), 2);
  CloseHandle(h);
  CloseHandle(shared.hGo);
}

TEST(ThreadTest, TerminateEndsABlockedThread) {
  std::atomic<bool> started{false};
  HANDLE h = CreateThread(WaitForever, &started, nullptr);
  ASSERT_NE(h, nullptr);
  while (!started) Sleep(1);
  EXPECT_TRUE(TerminateThread(h, 7));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(h);
}

TEST(ThreadTest, ClosingTheHandleLeavesTheThreadRunning) {
  HANDLE done = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  HANDLE h = CreateThread(
      [](LPVOID p) -> DWORD {
        Sleep(20);
        SetEvent(static_cast<HANDLE>(p));
        return 0;
      },
      done, nullptr);
  ASSERT_NE(h, nullptr);
  CloseHandle(h);
  EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  Sleep(10);  // let the thread finish letting go of its state
  CloseHandle(done);
}

TEST(RandomTest, ThreadsKeepTheirOwnState) {
  platform::SeedRandom(5);
  int a1 = platform::Random();
  int a2 = platform::Random();
  platform::SeedRandom(5);
  EXPECT_EQ(platform::Random(), a1);
  // Reseeding in another thread leaves this thread's sequence alone.
  std::thread([] {
    platform::SeedRandom(99);
    (void)platform::Random();
  }).join();
  EXPECT_EQ(platform::Random(), a2);
  for (int i = 0; i < 1000; ++i) {
    int r = platform::Random();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, platform::kRandMax);
  }
}
