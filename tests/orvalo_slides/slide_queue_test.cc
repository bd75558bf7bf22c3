#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "korin/IEpochSender.h"
#include "orvalo/Request.h"
#include "orvalo/SlideQueue.h"
#include "orvalo/TempFiles.h"
#include "platform/Handle.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"

namespace {

struct Progress {
  std::vector<int> thisSlide, nextSlide;
  std::vector<DWORD> repairs;
};

class RecordingProgress : public ISlideProgress {
 public:
  explicit RecordingProgress(Progress* p) : m_p(p) {}
  void SetThisSlide(int n) override { m_p->thisSlide.push_back(n); }
  void SetNextSlide(int n) override { m_p->nextSlide.push_back(n); }
  void SetRepairs(DWORD dw) override { m_p->repairs.push_back(dw); }

 private:
  Progress* m_p;
};

// Holds the sender's side of the epoch contract: epochs never decrease and
// the valid count stays within 1..63.
class RecordingEpochSender : public IEpochSender {
 public:
  BOOL SetEpoch(DWORD dwEpoch, DWORD dwValidEpochs) override {
    calls.push_back({dwEpoch, dwValidEpochs});
    if (dwEpoch < m_dwLast || dwValidEpochs == 0 || dwValidEpochs > 63) return FALSE;
    m_dwLast = dwEpoch;
    return TRUE;
  }
  int Send(const BYTE*, DWORD dwLen, DWORD* pdwSequence, BOOL fReliable) override {
    if (fReliable) *pdwSequence = ++m_dwSeq;
    sends.push_back({dwLen, fReliable});
    return static_cast<int>(dwLen + 19);
  }
  int SendUnreliable(const BYTE* p, DWORD dwLen) override { return Send(p, dwLen, nullptr, FALSE); }
  DWORD SetDataRate(DWORD) override { return 0; }
  DWORD GetMaxPayload() override { return 1000; }
  BOOL WaitForSendReady(long, long) override { return TRUE; }
  DWORD GetRepairsQueued() override { return 7; }
  BOOL SetLowWater(DWORD) override { return FALSE; }

  struct Epoch { DWORD dwEpoch, dwValid; };
  struct Sent { DWORD dwLen; BOOL fReliable; };
  std::vector<Epoch> calls;
  std::vector<Sent> sends;

 private:
  DWORD m_dwLast = 63;
  DWORD m_dwSeq = 0;
};

struct Out {
  DWORD dwRet, dwLen, dwEpoch, dwValid;
  BOOL fReliable;
  tPacketHeader header;
  DWORD dwFileSlide;
};

class SlideQueueTest : public ::testing::Test {
 protected:
  SlideQueueTest() : m_queue(std::make_unique<RecordingProgress>(&m_progress)) {}

  void WriteSlideCab(DWORD dwSlide, std::size_t cb) {
    char sz[MAX_PATH + 1];
    ASSERT_TRUE(SlideCabName(dwSlide, sz));
    const std::string contents(cb, char('0' + dwSlide));
    ASSERT_EQ(ERROR_SUCCESS, platform::WriteWholeFile(sz, contents.data(), contents.size()));
  }
  BOOL QueueFile(DWORD dwSlide, std::size_t cb, BOOL fNext) {
    WriteSlideCab(dwSlide, cb);
    CFileRequest req;
    if (!req.SetSlide(dwSlide)) return FALSE;
    return m_queue.AddRequest(&req, fNext);
  }
  Out Next(DWORD dwRepairs = 0) {
    Out o{};
    std::vector<BYTE> buf(1000, 0xAA);
    o.dwRet = m_queue.GetNextPacket(buf.data(), 1000, &o.dwLen, &o.dwEpoch, &o.dwValid,
                                    &o.fReliable, dwRepairs);
    std::memcpy(o.header.abRaw, buf.data(), 36);
    o.dwFileSlide = tSlidePacketHeader::Of(buf.data())->GetFileSlide();
    return o;
  }
  bool DataEventSet() { return WaitForSingleObject(m_queue.GetDataEvent(), 0) == WAIT_OBJECT_0; }
  static tSlideInfo State(DWORD dwSlide, DWORD dwTime, BOOL fDone = FALSE) {
    return tSlideInfo{.dwScreenState = 1, .dwSlide = dwSlide, .dwTime = dwTime, .wStep = 0,
                      .fDone = static_cast<DWORD>(fDone)};
  }
  static bool IsHeartbeat(const Out& o) {
    return o.dwRet == 0 && o.dwLen == 36 && !o.fReliable &&
           o.header.GetType() == orvalo::kPacketTypeState && o.header.GetTag() == "Heartbeat" &&
           o.header.IsFirst() && !o.header.IsMore();
  }

  ScopedTmpDir m_tmp;
  Progress m_progress;
  CSlideQueue m_queue;
};

TEST_F(SlideQueueTest, IdleQueueSendsHeartbeatsWithItsState) {
  EXPECT_EQ(500u, m_queue.GetHeartbeatMs());
  const Out o = Next(4);
  EXPECT_TRUE(IsHeartbeat(o));
  EXPECT_EQ(63u, o.dwEpoch);
  EXPECT_EQ(1u, o.dwValid);
  tSlideInfo info{};
  UnpackSlideInfo(o.header, &info);
  EXPECT_EQ((tSlideInfo{.dwScreenState = 3, .dwSlide = 1, .dwTime = 0, .wStep = 0, .fDone = 0}),
            info);
  EXPECT_EQ((std::vector<DWORD>{4}), m_progress.repairs);
}

TEST_F(SlideQueueTest, FileGoesOutReliablyWithProgress) {
  ASSERT_TRUE(QueueFile(1, 4000, FALSE));
  const DWORD expected[] = {1000, 1000, 1000, 1000, 200};
  for (DWORD dwLen : expected) {
    const Out o = Next();
    EXPECT_EQ(dwLen, o.dwLen);
    EXPECT_TRUE(o.fReliable);
    EXPECT_EQ(orvalo::kPacketTypeFileData, o.header.GetType());
  }
  EXPECT_EQ((std::vector<int>{24, 48, 72, 96, 100}), m_progress.thisSlide);
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0}), m_progress.nextSlide);
  EXPECT_FALSE(DataEventSet());
}

TEST_F(SlideQueueTest, ControlBacklogIsWorkedOffWithStatePackets) {
  ASSERT_TRUE(QueueFile(1, 4000, FALSE));
  for (DWORD t = 1; t <= 12; ++t) {
    const tSlideInfo s = State(1, t);
    ASSERT_TRUE(m_queue.AddCtrl(&s));
  }
  std::vector<std::pair<DWORD, BOOL>> got;  // time, reliable
  for (int i = 0; i < 12; ++i) {
    const Out o = Next();
    got.push_back({o.header.GetTime(), o.fReliable});
  }
  const std::vector<std::pair<DWORD, BOOL>> want = {
      {1, FALSE}, {2, TRUE},   {3, TRUE},   {4, TRUE},   {5, TRUE},   {6, TRUE},
      {7, FALSE}, {8, FALSE}, {9, FALSE}, {10, FALSE}, {11, FALSE}, {12, FALSE}};
  EXPECT_EQ(want, got);
  EXPECT_FALSE(DataEventSet());
  EXPECT_EQ(12u, m_queue.GetCurrentState().dwTime);
}

TEST_F(SlideQueueTest, DoneDropsEverythingAndSpeedsUpHeartbeats) {
  ASSERT_TRUE(QueueFile(1, 4000, FALSE));
  const tSlideInfo s = State(1, 5);
  ASSERT_TRUE(m_queue.AddCtrl(&s));
  const tSlideInfo done = State(1, 6, TRUE);
  ASSERT_TRUE(m_queue.AddCtrl(&done));
  EXPECT_EQ(0u, m_queue.GetDataCount());
  EXPECT_EQ(1u, m_queue.GetCtrlCount());
  EXPECT_EQ(75u, m_queue.GetHeartbeatMs());
  for (int i = 0; i < 2; ++i) {  // the done state, then a heartbeat
    const Out o = Next();
    EXPECT_TRUE(IsHeartbeat(o));
    EXPECT_TRUE(o.header.IsDone());
    EXPECT_EQ(6u, o.header.GetTime());
  }
  const tSlideInfo again = State(1, 7);
  ASSERT_TRUE(m_queue.AddCtrl(&again));
  EXPECT_EQ(500u, m_queue.GetHeartbeatMs());
}

TEST_F(SlideQueueTest, StrokesAndEmptyRequestsBecomeStatePackets) {
  ASSERT_TRUE(QueueFile(1, 0, FALSE));
  CPtsRequest lone;
  lone.SetSlide(1);
  lone.AddPoint(1, 1);
  ASSERT_TRUE(m_queue.AddRequest(&lone, FALSE));
  CPtsRequest stroke;
  stroke.SetSlide(1);
  for (int i = 0; i < 300; ++i) stroke.AddPoint(float(i), 0);
  ASSERT_TRUE(m_queue.AddRequest(&stroke, FALSE));
  std::vector<DWORD> lens;
  for (int i = 0; i < 5; ++i) lens.push_back(Next().dwLen);
  EXPECT_EQ((std::vector<DWORD>{36, 36, 996, 996, 556}), lens);
}

TEST_F(SlideQueueTest, GoingToTheNextSlideBeforeItsDataBegan) {
  ASSERT_TRUE(QueueFile(1, 4000, FALSE));  // a jump from nothing
  EXPECT_EQ(65u, m_queue.GetEpoch());
  EXPECT_EQ(2u, m_queue.GetValidEpochs());
  ASSERT_TRUE(QueueFile(2, 2000, TRUE));
  EXPECT_EQ(2u, m_queue.GetNextSlide());
  EXPECT_EQ(65u, Next().dwEpoch);  // slide 1's data
  ASSERT_TRUE(m_queue.SetSlide(2));
  EXPECT_EQ(67u, m_queue.GetEpoch());
  EXPECT_EQ(2u, m_queue.GetValidEpochs());
  EXPECT_EQ(1u, m_queue.GetDataCount());  // slide 1's data went, slide 2's stays
  const Out o = Next();
  EXPECT_EQ(2u, o.dwFileSlide);
  EXPECT_TRUE(o.header.IsFirst());
  EXPECT_EQ(67u, o.dwEpoch);
  EXPECT_EQ(2u, o.dwValid);
}

TEST_F(SlideQueueTest, GoingToTheNextSlideAfterItsDataBegan) {
  RecordingEpochSender sender;
  auto send = [&](const Out& o) {
    ASSERT_EQ(0u, o.dwRet);
    EXPECT_TRUE(sender.SetEpoch(o.dwEpoch, o.dwValid));
    DWORD dwSeq = 0;
    sender.Send(nullptr, o.dwLen, &dwSeq, o.fReliable);
  };
  ASSERT_TRUE(QueueFile(1, 960, FALSE));
  ASSERT_TRUE(QueueFile(2, 2000, TRUE));
  send(Next());  // all of slide 1
  const Out first = Next();
  send(first);
  EXPECT_EQ(2u, first.dwFileSlide);
  EXPECT_EQ(66u, first.dwEpoch);  // the next slide's data opens an epoch
  EXPECT_EQ(3u, first.dwValid);
  EXPECT_EQ(48, m_progress.nextSlide.back());
  ASSERT_TRUE(m_queue.SetSlide(2));
  EXPECT_EQ(67u, m_queue.GetEpoch());
  EXPECT_EQ(2u, m_queue.GetValidEpochs());
  const Out rest = Next();
  send(rest);
  EXPECT_EQ(67u, rest.dwEpoch);
  EXPECT_FALSE(rest.header.IsFirst());
  EXPECT_EQ(96, m_progress.thisSlide.back());  // 80 of 2000 bytes to go
  EXPECT_EQ(0, m_progress.nextSlide.back());
  ASSERT_EQ(3u, sender.sends.size());
  EXPECT_TRUE(sender.sends[0].fReliable && sender.sends[1].fReliable && sender.sends[2].fReliable);
}

TEST_F(SlideQueueTest, JumpDropsQueuedData) {
  ASSERT_TRUE(QueueFile(1, 4000, FALSE));
  ASSERT_TRUE(QueueFile(2, 4000, TRUE));
  Next();
  ASSERT_TRUE(m_queue.SetSlide(7));
  EXPECT_EQ(67u, m_queue.GetEpoch());
  EXPECT_EQ(2u, m_queue.GetValidEpochs());
  EXPECT_EQ(0u, m_queue.GetDataCount());
  EXPECT_EQ(0u, m_queue.GetNextSlide());
  EXPECT_EQ(7u, m_queue.GetSlide());
  EXPECT_TRUE(m_queue.SetSlide(7));  // no change
  EXPECT_EQ(67u, m_queue.GetEpoch());
}

TEST_F(SlideQueueTest, AnnouncingAnotherNextSlideReplacesTheFirst) {
  ASSERT_TRUE(QueueFile(1, 100, FALSE));
  const tSlideInfo s2 = State(2, 1);
  ASSERT_TRUE(QueueFile(2, 100, TRUE));
  ASSERT_TRUE(m_queue.AddCtrl(&s2));
  ASSERT_TRUE(QueueFile(3, 100, TRUE));
  EXPECT_EQ(2u, m_queue.GetDataCount());  // slides 1 and 3
  EXPECT_EQ(0u, m_queue.GetCtrlCount());  // slide 2's state went with its data
  EXPECT_EQ(3u, m_queue.GetNextSlide());
}

TEST_F(SlideQueueTest, StopRequestEndsTheThreadAndClosesTheQueue) {
  m_queue.Request();
  EXPECT_EQ(1u, Next().dwRet);
  m_queue.Reply();
  const tSlideInfo s = State(1, 1);
  EXPECT_FALSE(m_queue.AddCtrl(&s));
  EXPECT_FALSE(QueueFile(1, 10, FALSE));
}

}  // namespace
