#include "tests/pelago/LabRoles.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "mcast/TickTimer.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "tests/pelago/PelagoTestUtil.h"

namespace pelago_lab {
namespace {

constexpr unsigned long kSourceId = 193894;
constexpr std::int64_t kWriteTimeSec = 1577836800;  // 2020-01-01

unsigned long Num(const std::string& name) {
  return std::strtoul(lab::ChildParam(name).c_str(), nullptr, 10);
}

void RunSender() {
  CPelagoSession session;
  ASSERT_EQ(0, session.SessionInit(lab::ChildParam("group").c_str(),
                                   static_cast<unsigned short>(Num("port")), 1, Num("rate"),
                                   kSourceId, 16, 255, 1024));
  CPelagoSend send;
  ASSERT_EQ(0u, send.Init(&session));
  std::string file = lab::ChildParam("file");
  ASSERT_EQ(0u, send.Start(file.data(), 0));
  const unsigned long dwBlocks = send.GetTotalBlocks();
  const std::string midRound = lab::ChildParam("midround");
  tPelagoSendStats st{};
  if (!midRound.empty()) {
    CTickTimer t;
    do {
      Sleep(2);
      send.GetSendStats(&st);
    } while (st.SentCount < dwBlocks / 2 && st.Complete == 0 && t.Elapsed() < 60000);
    lab::TouchFile(midRound);
  }
  EXPECT_TRUE(lab::WaitForFile(lab::ChildParam("stop"), Num("timeout")));
  send.GetSendStats(&st);
  EXPECT_EQ(0u, st.Complete) << "the carousel ended by itself";
  send.StopPelagoSend();
  send.GetSendStats(&st);
  EXPECT_EQ(1u, st.Complete);
  EXPECT_EQ(0u, st.ErrorCode);
  std::printf("sender: blocks %lu sent %u rounds %u\n", dwBlocks, st.SentCount, st.SentRounds);
}

void RunReceiver() {
  const std::string join = lab::ChildParam("join");
  if (!join.empty()) {
    ASSERT_TRUE(lab::WaitForFile(join, Num("timeout")));
  }
  CPelagoSession session;
  session.SessionInit(lab::ChildParam("group").c_str(), static_cast<unsigned short>(Num("port")),
                      kSourceId);
  CPelagoRecv recv;
  recv.SetSimLoss(static_cast<float>(Num("loss")));
  const std::string save = lab::ChildParam("save");
  ASSERT_EQ(0u, recv.Init(&session, save.c_str(), TRUE));
  ASSERT_EQ(0u, recv.StartPelagoRecv());
  lab::TouchFile(lab::ChildParam("ready"));
  CTickTimer t;
  std::string name;
  bool fComplete = false;
  while (!fComplete && t.Elapsed() < Num("timeout")) {
    CPelagoEvent e;
    ASSERT_EQ(0, recv.GetNextRecvEvent(&e, 200));
    switch (e.GetEventType()) {
      case PELAGORE_FILE_COMPLETE:
        name = e.GetFileName();
        break;
      case PELAGORE_COMPLETE:
        fComplete = true;
        break;
      case PELAGORE_ERROR:
      case PELAGORE_FATAL_ERROR:
        ADD_FAILURE() << "error event " << e.GetErrorCode();
        break;
      default:
        break;
    }
  }
  tPelagoRecvStats st;
  recv.GetRecvStats(&st);
  std::printf("receiver loss %s: recvd %u lost %u redundant %u dropped %u decoded %u stray %u\n",
              lab::ChildParam("loss").c_str(), st.RecvdCount, st.LostPackets, st.RedundantCount,
              st.Dropped, st.Decoded, st.StrayCount);
  recv.StopPelagoRecv();
  ASSERT_TRUE(fComplete) << "no complete file in time";
  const std::string source = lab::ChildParam("file");
  EXPECT_EQ(platform::BaseName(source), name);
  std::string want, got;
  ASSERT_EQ(0u, platform::ReadWholeFile(source, &want));
  ASSERT_EQ(0u, platform::ReadWholeFile(platform::JoinPath(save, name), &got));
  EXPECT_EQ(want.size(), got.size());
  EXPECT_TRUE(want == got) << "contents differ";
  FILETIME ft{};
  ASSERT_EQ(0u, platform::GetFileTimes(platform::JoinPath(save, name), nullptr, nullptr, &ft));
  EXPECT_EQ(platform::FileTimeToU64(platform::FileTimeFromUnix(kWriteTimeSec, 0)),
            platform::FileTimeToU64(ft));
  EXPECT_EQ(1u, st.FilesDone);
}

}  // namespace

std::string MakeSourceFile(const std::string& sDir, const std::string& sName, std::size_t n) {
  const std::string path = platform::JoinPath(sDir, sName);
  const std::string data = pelago_test::RandomBytes(n, static_cast<std::uint32_t>(n));
  EXPECT_EQ(0u, platform::WriteWholeFile(path, data.data(), data.size()));
  const FILETIME ft = platform::FileTimeFromUnix(kWriteTimeSec, 0);
  EXPECT_EQ(0u, platform::SetFileTimes(path, &ft, &ft));
  return path;
}

void RunChild() {
  if (lab::ChildRole() == "sender") {
    RunSender();
  } else {
    RunReceiver();
  }
}

void RunCase(lab::Lab* pLab, const std::string& sFile, unsigned long dwRate,
             const std::vector<tReceiver>& receivers, unsigned dwTimeoutMs) {
  static unsigned s_nCase = 0;
  const pelago_test::tGroup group = pelago_test::NextGroup();
  const std::string sync = lab::MakeSyncDir();
  const std::string tag = std::to_string(++s_nCase);
  std::map<std::string, std::string> common = {{"group", group.sAddr},
                                               {"port", std::to_string(group.wPort)},
                                               {"file", sFile},
                                               {"timeout", std::to_string(dwTimeoutMs)}};
  const std::string midRound = platform::JoinPath(sync, "midround");
  std::vector<lab::ChildId> rcvs;
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    auto p = common;
    const std::string save = platform::JoinPath(sync, "save" + std::to_string(i));
    platform::CreateDirectory(save);
    p["save"] = save;
    p["loss"] = std::to_string(static_cast<int>(receivers[i].fLossPerc));
    p["ready"] = platform::JoinPath(sync, "ready" + std::to_string(i));
    if (receivers[i].fJoinMidRound) p["join"] = midRound;
    rcvs.push_back(pLab->StartSelf(static_cast<int>(i) + 1, "receiver", p));
  }
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    if (receivers[i].fJoinMidRound) continue;
    ASSERT_TRUE(
        lab::WaitForFile(platform::JoinPath(sync, "ready" + std::to_string(i)), dwTimeoutMs));
  }
  auto sp = common;
  sp["rate"] = std::to_string(dwRate);
  sp["stop"] = platform::JoinPath(sync, "stop");
  sp["midround"] = midRound;
  lab::ChildId snd = pLab->StartSelf(0, "sender", sp);
  for (std::size_t i = 0; i < rcvs.size(); ++i) {
    lab::Result r = pLab->Wait(rcvs[i], dwTimeoutMs + 10000);
    EXPECT_EQ(0, r.nExitCode) << "receiver " << i << " of " << sFile << ":\n" << r.sOutput;
  }
  lab::TouchFile(sp["stop"]);
  lab::Result s = pLab->Wait(snd, 20000);
  EXPECT_EQ(0, s.nExitCode) << "sender of " << sFile << ":\n" << s.sOutput;
  lab::RemoveTree(sync);
}

}  // namespace pelago_lab
