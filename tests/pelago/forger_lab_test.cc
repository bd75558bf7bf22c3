// A forging host on the lab's LAN: a forged first datagram teaches the
// receivers a wrong payload length before the genuine sender starts, and a
// bounded spray then mixes more forged first datagrams, a flood of new file
// ids and random bytes into the genuine carousel. Every receiver still
// restores the genuine file whole, its memory stays bounded, and receivers
// and sender stop within a second.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "mcast/Multicast.h"
#include "mcast/TickTimer.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "tests/lab/Lab.h"
#include "tests/pelago/LabRoles.h"
#include "tests/pelago/PelagoTestUtil.h"

namespace {

constexpr unsigned long kSourceId = 193894;
constexpr int kReceivers = 2;
constexpr unsigned kChildTimeoutMs = 90000;  // generous: sanitizers, ctest -j8
constexpr int kSpray = 20000;                // datagrams of the spray
constexpr DWORD kForgedLen = 200;            // the payload length the forger teaches

unsigned long Num(const char* szName) {
  return std::strtoul(lab::ChildParam(szName).c_str(), nullptr, 10);
}

class CForger {
 public:
  CForger() : m_rng(1234) {
    EXPECT_EQ(0, m_port.OpenSnd(lab::ChildParam("group").c_str(),
                                static_cast<unsigned short>(Num("port")), 1));
  }
  // A first datagram as a sender of kForgedLen-byte payloads would send it,
  // of a file of one group of k = 4.
  void ForgedFirst() {
    tPacketHeader h;
    h.Clear();
    h.SetSourceId(kSourceId);
    h.SetSeqNo(m_rng());
    h.SetFileId(m_rng());
    h.SetTotalLen(4 * kForgedLen);
    h.SetK(4);
    Send(h, kForgedLen);
  }
  // A valid-looking datagram of the genuine length for a never-seen file id.
  void NewFileId() {
    tPacketHeader h;
    h.Clear();
    h.SetSourceId(kSourceId);
    h.SetSeqNo(m_rng());
    h.SetFileId(m_rng());
    h.SetTotalLen(16 * 1024 * (1 + m_rng() % 8));
    h.SetGroupId(0);
    h.SetBlockIndex(m_rng() % 16);
    h.SetK(16);
    Send(h, 1024);
  }
  // Random bytes of a random length, now and then with the session's source id.
  void Noise() {
    tPacketHeader h;
    for (BYTE& b : h.m_Bytes) b = static_cast<BYTE>(m_rng());
    if (m_rng() % 2 == 0) h.SetSourceId(kSourceId);
    Send(h, m_rng() % 1400);
  }

 private:
  void Send(tPacketHeader& h, DWORD dwLen) {
    m_payload.resize(dwLen + 1);
    for (BYTE& b : m_payload) b = static_cast<BYTE>(m_rng());
    WSABUF bufs[2] = {{tPacketHeader::kSize, reinterpret_cast<char*>(h.m_Bytes)},
                      {dwLen, reinterpret_cast<char*>(m_payload.data())}};
    DWORD dwSent = 0;
    m_port.SendBuffers(bufs, dwLen == 0 ? 1 : 2, &dwSent);
  }

  CMulticast m_port;
  std::mt19937 m_rng;
  std::vector<BYTE> m_payload;
};

void RunForger() {
  const std::string sync = lab::ChildParam("sync");
  for (int i = 0; i < kReceivers; ++i) {
    ASSERT_TRUE(lab::WaitForFile(sync + "/ready" + std::to_string(i), kChildTimeoutMs));
  }
  CForger forger;
  for (int i = 0; i < 3; ++i) forger.ForgedFirst();
  lab::TouchFile(sync + "/forged");
  ASSERT_TRUE(lab::WaitForFile(sync + "/sending", kChildTimeoutMs));
  for (int i = 0; i < kSpray; ++i) {
    switch (i % 4) {
      case 0: forger.ForgedFirst(); break;
      case 3: forger.Noise(); break;
      default: forger.NewFileId(); break;
    }
    if (i % 8 == 7) Sleep(1);  // at most 8000 a second
  }
  lab::TouchFile(sync + "/sprayed");
  std::printf("forger: %d datagrams sprayed\n", kSpray);
}

void RunSender() {
  const std::string sync = lab::ChildParam("sync");
  CPelagoSession session;
  ASSERT_EQ(0, session.SessionInit(lab::ChildParam("group").c_str(),
                                   static_cast<unsigned short>(Num("port")), 1, 400000,
                                   kSourceId, 16, 255, 1024));
  CPelagoSend send;
  ASSERT_EQ(0u, send.Init(&session));
  std::string file = lab::ChildParam("file");
  ASSERT_EQ(0u, send.Start(file.data(), 0));
  lab::TouchFile(sync + "/sending");
  for (int i = 0; i < kReceivers; ++i) {
    EXPECT_TRUE(lab::WaitForFile(sync + "/done" + std::to_string(i), kChildTimeoutMs));
  }
  CTickTimer stop;
  send.StopPelagoSend();
  EXPECT_LT(stop.Elapsed(), 1000u) << "the sender's stop";
  tPelagoSendStats st{};
  send.GetSendStats(&st);
  EXPECT_EQ(1u, st.Complete);
  EXPECT_EQ(0u, st.ErrorCode);
}

void RunReceiver() {
  const std::string sync = lab::ChildParam("sync");
  const std::string index = lab::ChildParam("index");
  CPelagoSession session;
  session.SessionInit(lab::ChildParam("group").c_str(), static_cast<unsigned short>(Num("port")),
                      kSourceId);
  CPelagoRecv recv;
  const std::string save = lab::ChildParam("save");
  ASSERT_EQ(0u, recv.Init(&session, save.c_str(), TRUE));
  ASSERT_EQ(0u, recv.StartPelagoRecv());
  const long lReadyKb = lab::RssKb();
  lab::TouchFile(sync + "/ready" + index);
  const std::string source = lab::ChildParam("file");
  CTickTimer t;
  bool fComplete = false, fGenuine = false;
  while (!fComplete && t.Elapsed() < kChildTimeoutMs - 10000) {
    CPelagoEvent e;
    ASSERT_EQ(0, recv.GetNextRecvEvent(&e, 200));
    if (e.GetEventType() == PELAGORE_FILE_COMPLETE)
      fGenuine = platform::BaseName(source) == e.GetFileName();
    if (e.GetEventType() == PELAGORE_COMPLETE) fComplete = true;
    if (e.GetEventType() == PELAGORE_FATAL_ERROR) {
      ADD_FAILURE() << "fatal error " << e.GetErrorCode();
      break;
    }
  }
  const long lGrowthKb = lab::RssKb() - lReadyKb;
  tPelagoRecvStats st;
  recv.GetRecvStats(&st);
  std::printf("receiver %s: recvd %u stray %u dropped %u started %u payload %u rss +%ld KiB\n",
              index.c_str(), st.RecvdCount, st.StrayCount, st.Dropped, st.FilesStarted,
              st.PayloadLen, lGrowthKb);
  CTickTimer stop;
  recv.StopPelagoRecv();
  EXPECT_LT(stop.Elapsed(), 1000u) << "the receiver's stop";
  lab::TouchFile(sync + "/done" + index);
  ASSERT_TRUE(fComplete) << "no complete file in time";
  EXPECT_TRUE(fGenuine) << "the file restored is not the genuine one";
  EXPECT_EQ(1024u, st.PayloadLen);
  EXPECT_LT(lGrowthKb, 64 * 1024);
  std::string want, got;
  ASSERT_EQ(0u, platform::ReadWholeFile(source, &want));
  ASSERT_EQ(0u, platform::ReadWholeFile(platform::JoinPath(save, platform::BaseName(source)), &got));
  EXPECT_TRUE(want == got) << "contents differ";
}

}  // namespace

TEST(PelagoForgerLab, AGenuineFileArrivesWholeThroughForgeriesAndFloods) {
  if (lab::IsChild()) {
    const std::string role = lab::ChildRole();
    if (role == "forger") return RunForger();
    if (role == "sender") return RunSender();
    return RunReceiver();
  }
  ORVALO_LAB_START(theLab, kReceivers + 2);
  const std::string sync = lab::MakeSyncDir();
  const pelago_test::tGroup group = pelago_test::NextGroup();
  const std::string file = pelago_lab::MakeSourceFile(sync, "genuine.bin", 1000000);
  std::map<std::string, std::string> params = {
      {"group", group.sAddr}, {"port", std::to_string(group.wPort)}, {"sync", sync},
      {"file", file}};
  std::vector<lab::ChildId> receivers;
  for (int i = 0; i < kReceivers; ++i) {
    params["index"] = std::to_string(i);
    params["save"] = platform::JoinPath(sync, "save" + std::to_string(i));
    ASSERT_EQ(0u, platform::CreateDirectory(params["save"]));
    receivers.push_back(theLab->StartSelf(i + 1, "receiver", params));
  }
  lab::ChildId forger = theLab->StartSelf(kReceivers + 1, "forger", params);
  // The genuine sender begins only once the forged first datagrams are out.
  ASSERT_TRUE(lab::WaitForFile(sync + "/forged", kChildTimeoutMs));
  lab::ChildId sender = theLab->StartSelf(0, "sender", params);
  for (lab::ChildId id : receivers) {
    lab::Result r = theLab->Wait(id, kChildTimeoutMs + 30000);
    EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
  }
  lab::Result s = theLab->Wait(sender, kChildTimeoutMs + 30000);
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  lab::Result f = theLab->Wait(forger, kChildTimeoutMs + 30000);
  EXPECT_EQ(f.nExitCode, 0) << f.sOutput;
  lab::RemoveTree(sync);
}
