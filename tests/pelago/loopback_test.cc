// The sender, the packet receive thread and the receiver on the loopback
// interface of this machine.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "Pelago/RecvPacketThread.h"
#include "Pelago/RecvThread.h"
#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "tests/pelago/PelagoTestUtil.h"

using pelago_test::RandomBytes;
using pelago_test::TempDir;

namespace {

// CPU seconds of all this process's threads so far.
double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

constexpr unsigned long kSourceId = 193894;

class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    m_prev = platform::SetDebugOutputHook([](std::string_view) {});
    m_group = pelago_test::NextGroup();
  }
  void TearDown() override {
    platform::SetDebugOutputHook(m_prev);
    CMulticast::SetInterfaceForTesting(nullptr);
  }
  CPelagoSession SendSession(int K, int N, unsigned long dwRate = 20000000) {
    CPelagoSession s;
    EXPECT_EQ(0, s.SessionInit(m_group.sAddr.c_str(), m_group.wPort, 1, dwRate, kSourceId, K, N,
                               1024));
    return s;
  }
  CPelagoSession RecvSession() {
    CPelagoSession s;
    s.SessionInit(m_group.sAddr.c_str(), m_group.wPort, kSourceId);
    return s;
  }
  // Waits for an event of the type, collecting the others; false on time-out.
  static bool WaitForEvent(CPelagoRecv& recv, PelagoRcvEvent type, CPelagoEvent* pOut,
                           DWORD dwTimeoutMs = 30000) {
    CTickTimer t;
    while (t.Elapsed() < dwTimeoutMs) {
      CPelagoEvent e;
      if (recv.GetNextRecvEvent(&e, 100) != 0) return false;
      if (e.GetEventType() == type) {
        *pOut = e;
        return true;
      }
      if (e.GetEventType() == PELAGORE_FATAL_ERROR) return false;
    }
    return false;
  }
  // Inits `recv` on `rs` into m_dst and starts it: 0 or the first error.
  DWORD StartReceive(CPelagoRecv& recv, CPelagoSession& rs, BOOL fSaveFiles) {
    const DWORD dwErr = recv.Init(&rs, m_dst.Path().c_str(), fSaveFiles);
    return dwErr != 0 ? dwErr : recv.StartPelagoRecv();
  }
  // Inits `send` on `ss` and starts the file at `path`: 0 or the first error.
  static DWORD StartSend(CPelagoSend& send, CPelagoSession& ss, const std::string& path) {
    const DWORD dwErr = send.Init(&ss);
    return dwErr != 0 ? dwErr : send.Start(const_cast<char*>(path.c_str()), 0);
  }

  pelago_test::tGroup m_group;
  platform::DebugOutputHook m_prev;
  TempDir m_src, m_dst;
};

// What a receive thread works with when it runs alone: the receive (for its
// counters only), the session and the queues of events and packets.
struct tThreadRig {
  explicit tThreadRig(const CPelagoSession& session) : rs(session) {}
  CPelagoRecv recv;
  CPelagoSession rs;
  CMcastQueue<CPelagoEvent> events;
  CMcastQueue<CPacketQueueEntry> packets;
};

// Sends raw datagrams to the group.
class CRawSender {
 public:
  explicit CRawSender(const pelago_test::tGroup& g) {
    EXPECT_EQ(0, m_port.OpenSnd(g.sAddr.c_str(), g.wPort, 1));
  }
  void Send(DWORD dwSourceId, DWORD dwK, DWORD dwPayloadLen, DWORD dwSeqNo = 0) {
    tPacketHeader h;
    h.Clear();
    h.SetSourceId(dwSourceId);
    h.SetSeqNo(dwSeqNo);
    h.SetK(dwK);
    std::string payload(dwPayloadLen, 'p');
    WSABUF bufs[2] = {{tPacketHeader::kSize, reinterpret_cast<char*>(h.m_Bytes)},
                      {dwPayloadLen, payload.data()}};
    DWORD dwSent = 0;
    EXPECT_EQ(0, m_port.SendBuffers(bufs, dwPayloadLen == 0 ? 1 : 2, &dwSent));
  }

 private:
  CMulticast m_port;
};

}  // namespace

TEST_F(LoopbackTest, OneRoundSendsEveryBlockOnceThenCompletes) {
  const std::string path = m_src.Write("round.bin", RandomBytes(40000 - 49, 1));
  CMulticast rcv;
  ASSERT_EQ(0, rcv.OpenRcv(m_group.sAddr.c_str(), m_group.wPort, TRUE));
  rcv.GetMaxRcvLen();
  // Slow enough that the reading side never overflows its socket buffer.
  CPelagoSession session = SendSession(16, 20, 200000);
  CPelagoSend send;
  EXPECT_EQ(0u, send.GetTotalBlocks());
  ASSERT_EQ(0u, send.Init(&session));
  ASSERT_EQ(0u, send.Start(const_cast<char*>(path.c_str()), 1));
  EXPECT_EQ(42u, send.GetTotalBlocks());  // 3 groups of 14
  std::set<std::pair<DWORD, DWORD>> seen;
  std::set<DWORD> seqs;
  for (;;) {
    BOOL fRead = FALSE, fWrite = FALSE;
    // After the round nothing more comes.
    rcv.Select(seen.size() < 60 ? 10 : 0, 200000, &fRead, &fWrite, TRUE, FALSE);
    if (!fRead) break;
    tPacketHeader h;
    BYTE payload[2048];
    WSABUF bufs[2] = {{24, reinterpret_cast<char*>(h.m_Bytes)},
                      {sizeof payload, reinterpret_cast<char*>(payload)}};
    DWORD dwBytes = 0;
    ASSERT_EQ(0, rcv.RecvBuffersFrom(bufs, 2, &dwBytes, nullptr));
    ASSERT_EQ(24u + 1024u, dwBytes);
    EXPECT_EQ(kSourceId, h.GetSourceId());
    EXPECT_TRUE(seen.insert({h.GetGroupId(), h.GetBlockIndex()}).second);
    seqs.insert(h.GetSeqNo());
  }
  ASSERT_EQ(WAIT_OBJECT_0, send.WaitForCompletion(10000));
  EXPECT_EQ(3u * 20u, seen.size());
  EXPECT_EQ(3u * 20u, seqs.size());
  EXPECT_EQ(59u, *seqs.rbegin());
  tPelagoSendStats st;
  send.GetSendStats(&st);
  EXPECT_EQ(60u, st.SentCount);
  EXPECT_EQ(1u, st.SentRounds);
  EXPECT_EQ(1u, st.Complete);
  EXPECT_EQ(0u, st.ErrorCode);
}

TEST_F(LoopbackTest, SenderRefusesBadStarts) {
  CPelagoSend send;
  EXPECT_EQ(87u, send.Init(nullptr));
  CPelagoSession session = SendSession(16, 20);
  ASSERT_EQ(0u, send.Init(&session));
  const std::string empty = m_src.Write("empty", "");
  EXPECT_EQ(87u, send.Start(const_cast<char*>(empty.c_str()), 0));
  EXPECT_EQ(2u, send.Start(const_cast<char*>(m_src.Join("missing").c_str()), 0));
  EXPECT_EQ(87u, send.Start(nullptr, 0));
  EXPECT_EQ(WAIT_FAILED, send.WaitForCompletion(0));
}

TEST_F(LoopbackTest, ReceiverRestoresTheFileAndStopsAfterIt) {
  const std::string data = RandomBytes(150000, 2);
  const std::string path = m_src.Write("master.cab", data);
  FILETIME ft = platform::FileTimeFromUnix(1234567890, 0);
  ASSERT_EQ(0u, platform::SetFileTimes(path, &ft, &ft));

  CPelagoRecv recv;
  CPelagoSession rs = RecvSession();
  recv.SetSimLoss(10.0f);
  ASSERT_EQ(0u, StartReceive(recv, rs, TRUE));
  CPelagoSession ss = SendSession(16, 255);
  CPelagoSend send;
  ASSERT_EQ(0u, StartSend(send, ss, path));

  CPelagoEvent e;
  ASSERT_TRUE(WaitForEvent(recv, PELAGORE_FILE_START, &e));
  const DWORD dwFileId = e.GetFileId();
  EXPECT_EQ(10u * 15u * 1024u, e.GetFileLen());  // 150,052 bytes: 10 groups of 15
  ASSERT_TRUE(WaitForEvent(recv, PELAGORE_FILE_COMPLETE, &e));
  EXPECT_EQ(dwFileId, e.GetFileId());
  EXPECT_STREQ("master.cab", e.GetFileName());
  EXPECT_EQ(150000u, e.GetFileLen());
  ASSERT_TRUE(WaitForEvent(recv, PELAGORE_COMPLETE, &e));
  EXPECT_TRUE(data == m_dst.Read("master.cab"));
  FILETIME got{};
  platform::GetFileTimes(m_dst.Join("master.cab"), nullptr, nullptr, &got);
  EXPECT_EQ(platform::FileTimeToU64(ft), platform::FileTimeToU64(got));

  tPelagoRecvStats st;
  recv.GetRecvStats(&st);
  EXPECT_EQ(1u, st.FilesStarted);
  EXPECT_EQ(1u, st.FilesDone);
  EXPECT_EQ(1024u, st.PayloadLen);
  EXPECT_GE(st.RecvdCount, 150u);
  recv.StopPelagoRecv();
  send.StopPelagoSend();
  tPelagoSendStats ss2;
  send.GetSendStats(&ss2);  // freed with the transfer: the last counts stay
  EXPECT_EQ(1u, ss2.Complete);
  EXPECT_EQ(0u, ss2.ErrorCode);
}

TEST_F(LoopbackTest, StoppingEndsTheThreadsFromTheirOwnLoops) {
  const std::string path = m_src.Write("loop.bin", RandomBytes(500000, 3));
  CPelagoRecv recv;
  CPelagoSession rs = RecvSession();
  ASSERT_EQ(0u, StartReceive(recv, rs, FALSE));
  CPelagoSession ss = SendSession(16, 32, 200000);  // slow: it runs while we stop
  CPelagoSend send;
  ASSERT_EQ(0u, StartSend(send, ss, path));
  CPelagoEvent e;
  ASSERT_TRUE(WaitForEvent(recv, PELAGORE_FILE_START, &e));
  // The send thread reports its end itself: it was not ended forcibly.
  send.StopPelagoSend();
  tPelagoSendStats st;
  send.GetSendStats(&st);
  EXPECT_EQ(1u, st.Complete);
  EXPECT_EQ(0u, st.ErrorCode);
  EXPECT_EQ(nullptr, send.GetCompletionEventHandle());
  recv.StopPelagoRecv();
  // The unfinished file's temporary file is gone with the receive.
  EXPECT_FALSE(platform::FileExists(m_dst.Join("loop.bin")));
  recv.Cleanup();
  EXPECT_EQ(1068, recv.GetNextRecvEvent(&e, 0));
  EXPECT_EQ(PELAGORE_FATAL_ERROR, e.GetEventType());
}

TEST_F(LoopbackTest, ReceiverRefusesUseBeforeInit) {
  CPelagoRecv recv;
  EXPECT_EQ(31u, recv.StartPelagoRecv());
  EXPECT_EQ(87u, recv.Init(nullptr, "/tmp", FALSE));
  CPelagoSession rs = RecvSession();
  ASSERT_EQ(0u, recv.Init(&rs, m_dst.Path().c_str(), FALSE));
  CPelagoEvent e;
  EXPECT_EQ(0, recv.GetNextRecvEvent(&e, 0));
  EXPECT_EQ(PELAGORE_CONTINUE, e.GetEventType());
}

TEST_F(LoopbackTest, PacketThreadLearnsThePayloadAndCountsStrayAndDropped) {
  tThreadRig rig{RecvSession()};
  CRecvPacketThread pt;
  ASSERT_EQ(0u, pt.Init(&rig.rs, &rig.recv, &rig.events, &rig.packets, TRUE));
  CRawSender raw(m_group);
  auto receive = [&] { EXPECT_EQ(0u, pt.ReceiveOne(5000)); };
  tPelagoRecvStats st;
  raw.Send(kSourceId, 3, 512);  // teaches 512 and a ring of 3; dropped
  receive();
  EXPECT_EQ(512u, pt.GetPayloadLen());
  EXPECT_EQ(3, pt.GetRingSize());
  rig.recv.GetRecvStats(&st);
  EXPECT_EQ(1u, st.Dropped);
  EXPECT_EQ(512u, st.PayloadLen);
  raw.Send(kSourceId + 1, 3, 512);  // another source
  receive();
  raw.Send(kSourceId, 3, 0);  // header only
  receive();
  raw.Send(kSourceId, 3, 511);  // another length
  receive();
  rig.recv.GetRecvStats(&st);
  EXPECT_EQ(3u, st.StrayCount);
  for (int i = 0; i < 4; ++i) {
    raw.Send(kSourceId, 3, 512);
    receive();
  }
  rig.recv.GetRecvStats(&st);
  EXPECT_EQ(2u, st.Dropped);  // the ring of 3 was full for the fourth
  CPacketQueueEntry* p = nullptr;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(2, rig.packets.Get(&p, 0, nullptr));
    EXPECT_EQ(512u, p->GetDataLen());
    EXPECT_FALSE(p->IsFree());
    p->SetFree(TRUE);
  }
  EXPECT_EQ(0, rig.packets.Get(&p, 0, nullptr));
}

TEST_F(LoopbackTest, PacketThreadHandsOverInOrderAndHoldsADatagramWhileTheRingIsFull) {
  tThreadRig rig{RecvSession()};
  CRecvPacketThread pt;
  ASSERT_EQ(0u, pt.Init(&rig.rs, &rig.recv, &rig.events, &rig.packets, TRUE));
  ASSERT_EQ(0u, pt.Start());
  auto statsWithin = [&](DWORD dwMs, auto done) {
    tPelagoRecvStats st{};
    for (CTickTimer t; t.Elapsed() < dwMs; Sleep(1)) {
      rig.recv.GetRecvStats(&st);
      if (done(st)) return true;
    }
    return false;
  };
  // What the ring hands over within 5 s, three entries at the most.
  auto takeThree = [&] {
    std::vector<CPacketQueueEntry*> got;
    for (CTickTimer t; got.size() < 3 && t.Elapsed() < 5000;) {
      CPacketQueueEntry* batch[3];
      int n = 0;
      if (rig.packets.GetAll(batch, 3, &n, 100, nullptr) == 2)
        got.insert(got.end(), batch, batch + n);
    }
    return got;
  };
  CRawSender raw(m_group);
  raw.Send(kSourceId, 3, 512);  // teaches 512 and a ring of 3
  ASSERT_TRUE(statsWithin(5000, [](const tPelagoRecvStats& st) { return st.PayloadLen == 512; }));
  // Strays between the datagrams of the session leave the ring in order.
  raw.Send(kSourceId, 3, 512, 1);
  raw.Send(kSourceId + 1, 3, 512, 90);
  raw.Send(kSourceId, 3, 512, 2);
  raw.Send(kSourceId, 3, 100, 91);
  raw.Send(kSourceId, 3, 512, 3);
  std::vector<CPacketQueueEntry*> got = takeThree();
  ASSERT_EQ(3u, got.size());
  for (DWORD i = 0; i < 3; ++i) EXPECT_EQ(i + 1, got[i]->GetHeader()->GetSeqNo());
  tPelagoRecvStats st{};
  rig.recv.GetRecvStats(&st);
  EXPECT_EQ(2u, st.StrayCount);
  // Every buffer held: the next datagram waits in the socket, which has room,
  // and nothing is dropped; the thread waits meanwhile, it does not spin.
  raw.Send(kSourceId, 3, 512, 4);
  const double dCpu0 = ProcessCpuSeconds();
  Sleep(300);
  EXPECT_LT(ProcessCpuSeconds() - dCpu0, 0.15);
  rig.recv.GetRecvStats(&st);
  EXPECT_EQ(1u, st.Dropped);  // only the datagram that taught the length
  // Buffers back: the waiting datagram goes on.
  for (CPacketQueueEntry* p : got) p->SetFree(TRUE);
  pt.BuffersFreed();
  CPacketQueueEntry* p = nullptr;
  ASSERT_EQ(2, rig.packets.Get(&p, 5000, nullptr));
  EXPECT_EQ(4u, p->GetHeader()->GetSeqNo());
  p->SetFree(TRUE);
  pt.BuffersFreed();

  // Held again while the socket fills up: the oldest go into the spare.
  for (DWORD i = 5; i <= 7; ++i) raw.Send(kSourceId, 3, 512, i);
  got = takeThree();
  ASSERT_EQ(3u, got.size());
  for (DWORD i = 0; i < 2000; ++i) raw.Send(kSourceId, 3, 512, 100 + i);
  EXPECT_TRUE(statsWithin(10000, [](const tPelagoRecvStats& s) { return s.Dropped > 1; }));
  for (CPacketQueueEntry* e : got) e->SetFree(TRUE);
  pt.BuffersFreed();
  // And datagrams flow again behind what waited (one sent while the socket
  // is still full may be lost there: send until one comes).
  bool fLast = false;
  for (CTickTimer t; !fLast && t.Elapsed() < 10000;) {
    raw.Send(kSourceId, 3, 512, 9999);
    while (!fLast && rig.packets.Get(&p, 20, nullptr) == 2) {
      fLast = p->GetHeader()->GetSeqNo() == 9999;
      p->SetFree(TRUE);
      pt.BuffersFreed();
    }
  }
  EXPECT_TRUE(fLast);
  EXPECT_EQ(0u, pt.Stop(5000));
}

TEST_F(LoopbackTest, PacketThreadLearnsAgainAfterAForgedFirstDatagram) {
  tThreadRig rig{RecvSession()};
  CRecvPacketThread pt;
  ASSERT_EQ(0u, pt.Init(&rig.rs, &rig.recv, &rig.events, &rig.packets, TRUE));
  CRawSender raw(m_group);
  auto send = [&](DWORD dwLen, int n) {
    for (int i = 0; i < n; ++i) {
      raw.Send(kSourceId, 4, dwLen);
      EXPECT_EQ(0u, pt.ReceiveOne(5000));
    }
  };
  send(100, 2);  // a forger teaches 100; its second datagram waits in the queue
  ASSERT_EQ(100u, pt.GetPayloadLen());
  // Genuine traffic with a few forged datagrams among it: a window where the
  // learned length is rare. The queued entry holds the old ring a while.
  send(512, 40);
  send(100, 4);
  send(512, CRecvPacketThread::kRelearnWindow);
  EXPECT_EQ(100u, pt.GetPayloadLen());
  CPacketQueueEntry* p = nullptr;
  while (rig.packets.Get(&p, 0, nullptr) == 2) p->SetFree(TRUE);
  send(512, 2);  // learns 512 (dropped), then queues
  EXPECT_EQ(512u, pt.GetPayloadLen());
  EXPECT_EQ(4, pt.GetRingSize());
  ASSERT_EQ(2, rig.packets.Get(&p, 0, nullptr));
  EXPECT_EQ(512u, p->GetDataLen());
  p->SetFree(TRUE);

  // With the ring free, genuine datagrams are longer than its buffers and
  // come in cut: they count against the learned length all the same.
  CRecvPacketThread pt2;
  CMcastQueue<CPacketQueueEntry> packets2;
  ASSERT_EQ(0u, pt2.Init(&rig.rs, &rig.recv, &rig.events, &packets2, TRUE));
  auto send2 = [&](DWORD dwLen, int n) {
    for (int i = 0; i < n; ++i) {
      raw.Send(kSourceId, 4, dwLen);
      EXPECT_EQ(0u, pt2.ReceiveOne(5000));
      EXPECT_EQ(0u, pt.ReceiveOne(5000));  // the first thread hears the group too
      while (rig.packets.Get(&p, 0, nullptr) == 2) p->SetFree(TRUE);
      while (packets2.Get(&p, 0, nullptr) == 2) p->SetFree(TRUE);
    }
  };
  send2(100, 2);
  ASSERT_EQ(100u, pt2.GetPayloadLen());
  send2(512, CRecvPacketThread::kRelearnWindow + 2);
  EXPECT_EQ(512u, pt2.GetPayloadLen());

  // A learned length that genuine traffic keeps using stays, forged
  // datagrams among it notwithstanding.
  for (int w = 0; w < 4; ++w) {
    send(512, 3 * CRecvPacketThread::kRelearnWindow / 4);
    send(100, CRecvPacketThread::kRelearnWindow / 4);
    while (rig.packets.Get(&p, 0, nullptr) == 2) p->SetFree(TRUE);
  }
  EXPECT_EQ(512u, pt.GetPayloadLen());
}

TEST_F(LoopbackTest, AStoppedReceiveNeedsInitAgain) {
  CPelagoRecv recv;
  CPelagoSession rs = RecvSession();
  ASSERT_EQ(0u, StartReceive(recv, rs, FALSE));
  recv.StopPelagoRecv();
  EXPECT_EQ(1241u, recv.StartPelagoRecv());
  ASSERT_EQ(0u, recv.Init(&rs, m_dst.Path().c_str(), FALSE));
  EXPECT_EQ(0u, recv.StartPelagoRecv());
  CPelagoEvent e;
  EXPECT_EQ(0, recv.GetNextRecvEvent(&e, 200));
  EXPECT_EQ(PELAGORE_CONTINUE, e.GetEventType());
}

TEST_F(LoopbackTest, AFailingPacketQueueEndsTheReceiveWithAnEvent) {
  tThreadRig rig{RecvSession()};
  CRecvThread rt;
  ASSERT_EQ(0u,
            rt.Init(&rig.recv, &rig.rs, &rig.events, &rig.packets, m_dst.Path().c_str(), FALSE));
  ASSERT_EQ(0u, rt.Start());
  ASSERT_TRUE(rig.packets.Enqueue(nullptr));  // what no working queue hands out
  CPelagoEvent* p = nullptr;
  ASSERT_EQ(2, rig.events.Get(&p, 10000, nullptr)) << "no event";
  EXPECT_EQ(PELAGORE_FATAL_ERROR, p->GetEventType());
  EXPECT_EQ(1068u, p->GetErrorCode());
  delete p;
  ASSERT_TRUE(rt.GetReqReply()->WaitForReply(10000)) << "the thread goes on";
  rt.Stop(5000);
  EXPECT_EQ(1068u, rt.GetExitCode());
}

TEST_F(LoopbackTest, AVerySlowSenderStopsPromptlyAndReportsItsEnd) {
  const std::string path = m_src.Write("slow.bin", RandomBytes(20000, 4));
  CPelagoSession ss = SendSession(16, 20, 100);  // a datagram every ten seconds
  CPelagoSend send;
  ASSERT_EQ(0u, StartSend(send, ss, path));
  tPelagoSendStats st{};
  CTickTimer wait;
  while (st.SentCount == 0 && wait.Elapsed() < 10000) {
    Sleep(10);
    send.GetSendStats(&st);
  }
  ASSERT_EQ(1u, st.SentCount);
  Sleep(50);  // into the wait for the next one
  CTickTimer stop;
  send.StopPelagoSend();
  EXPECT_LT(stop.Elapsed(), 4000u);  // a forced end waits 5000 ms
  send.GetSendStats(&st);
  EXPECT_EQ(1u, st.Complete);
  EXPECT_EQ(0u, st.ErrorCode);
}

TEST_F(LoopbackTest, SenderRefusesFilesOf4GiBOrMore) {
  for (std::uint64_t qwSize : {std::uint64_t{1} << 32, (std::uint64_t{1} << 32) + 1000}) {
    const std::string path = m_src.Join("huge.bin");
    platform::File f;
    ASSERT_EQ(0u, f.Open(path, platform::OpenMode::kCreateAlways));
    ASSERT_EQ(0u, f.SetLength(qwSize));  // sparse
    f.Close();
    CPelagoFile record;
    EXPECT_EQ(223u, record.Set(path.c_str())) << qwSize;
    CPelagoSession session = SendSession(16, 20);
    CPelagoSend send;
    ASSERT_EQ(0u, send.Init(&session));
    EXPECT_EQ(223u, send.Start(const_cast<char*>(path.c_str()), 0)) << qwSize;
    EXPECT_EQ(0u, send.GetTotalBlocks());
    platform::DeleteFile(path);
  }
}

TEST_F(LoopbackTest, AFileNamedBy260CharactersIsSentItselfUnderItsName) {
  // The path's first 259 characters name another file, which must not go.
  std::string dir = m_src.Path() + "/";
  while (dir.size() < 260 - 12) dir += "d";
  ASSERT_EQ(0u, platform::CreateDirectory(dir));
  const std::string name = std::string(260 - dir.size() - 2, 'n') + "x";
  const std::string path = dir + "/" + name;
  ASSERT_EQ(260u, path.size());
  const std::string data = RandomBytes(30000, 5);
  ASSERT_EQ(0u, platform::WriteWholeFile(path, data.data(), data.size()));
  const std::string other = RandomBytes(50000, 6);
  ASSERT_EQ(0u, platform::WriteWholeFile(path.substr(0, 259), other.data(), other.size()));

  CPelagoRecv recv;
  CPelagoSession rs = RecvSession();
  ASSERT_EQ(0u, StartReceive(recv, rs, TRUE));
  CPelagoSession ss = SendSession(16, 32);
  CPelagoSend send;
  ASSERT_EQ(0u, StartSend(send, ss, path));
  CPelagoEvent e;
  ASSERT_TRUE(WaitForEvent(recv, PELAGORE_FILE_COMPLETE, &e));
  EXPECT_EQ(name, e.GetFileName());
  EXPECT_EQ(data.size(), e.GetFileLen());
  EXPECT_TRUE(data == m_dst.Read(name));
  send.StopPelagoSend();
}
