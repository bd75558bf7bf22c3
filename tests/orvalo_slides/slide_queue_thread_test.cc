// The queue between the host's thread and a real send thread.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "orvalo/Request.h"
#include "orvalo/SlideQueue.h"
#include "orvalo/TempFiles.h"
#include "platform/Handle.h"
#include "platform/Thread.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"

namespace {

struct SendThread {
  CSlideQueue* pQueue;
  std::atomic<int> nData{0};
  std::atomic<int> nState{0};
  std::atomic<DWORD> dwLastTime{0};
};

DWORD SendLoop(LPVOID pv) {
  auto* p = static_cast<SendThread*>(pv);
  std::vector<BYTE> buf(1000);
  DWORD dwLen, dwEpoch, dwValid;
  BOOL fReliable;
  while (p->pQueue->GetNextPacket(buf.data(), 1000, &dwLen, &dwEpoch, &dwValid, &fReliable, 0) ==
         0) {
    (fReliable ? p->nData : p->nState)++;
    p->dwLastTime = tPacketHeader::Of(buf.data())->GetTime();
  }
  p->pQueue->Reply();
  return 0;
}

TEST(SlideQueueThreads, SendThreadDrainsTheQueueAndStopsOnRequest) {
  ScopedTmpDir tmp;
  char sz[MAX_PATH + 1];
  ASSERT_TRUE(SlideCabName(1, sz));
  const std::vector<char> file(4000, 'x');
  ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(sz, file.data(), file.size()));

  CSlideQueue queue;
  SendThread st{&queue};
  DWORD tid = 0;
  HANDLE hThread = CreateThread(SendLoop, &st, &tid);
  ASSERT_NE(nullptr, hThread);
  CFileRequest req;
  ASSERT_TRUE(req.SetSlide(1));
  ASSERT_TRUE(queue.AddRequest(&req, FALSE));
  for (DWORD t = 1; t <= 50; ++t) {
    const tSlideInfo s{.dwScreenState = 0, .dwSlide = 1, .dwTime = t, .wStep = 0, .fDone = 0};
    ASSERT_TRUE(queue.AddCtrl(&s));
  }
  const tSlideInfo done{.dwScreenState = 0, .dwSlide = 1, .dwTime = 51, .wStep = 0, .fDone = 1};
  ASSERT_TRUE(queue.AddCtrl(&done));
  // The done state always gets out: wait for it (bounded), then stop.
  for (int i = 0; i < 2000 && st.dwLastTime != 51; ++i) Sleep(5);
  EXPECT_EQ(51u, st.dwLastTime.load());
  queue.Request();
  EXPECT_TRUE(queue.WaitForReply(10000));
  WaitForSingleObject(hThread, 10000);
  CloseHandle(hThread);
  EXPECT_LE(st.nData.load(), 5);
  EXPECT_FALSE(queue.AddCtrl(&done));
}

}  // namespace
