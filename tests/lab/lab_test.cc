#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "mcast/Multicast.h"
#include "tests/lab/Lab.h"

namespace {

constexpr unsigned kChildTimeoutMs = 60000;  // sanitizers slow everything
constexpr int kDatagrams = 3;
constexpr const char* kGroup = "239.42.0.1";
constexpr WORD kPort = 23456;

bool NamespaceExists(const std::string& sName) {
  return access(("/var/run/netns/" + sName).c_str(), F_OK) == 0;
}

int CountNamespacesWithPrefix(const std::string& sPrefix) {
  int n = 0;
  if (DIR* dir = opendir("/var/run/netns")) {
    while (dirent* e = readdir(dir)) n += strncmp(e->d_name, sPrefix.c_str(), sPrefix.size()) == 0;
    closedir(dir);
  }
  return n;
}

// One lab host: joins, waits for its peer, sends kDatagrams datagrams naming
// itself, then reads until it has the peer's ones and drains the rest,
// counting every datagram by its source address.
void RunPeer() {
  const bool fLoopback = lab::ChildParam("loopback") == "1";
  const std::string sSelf = lab::ChildParam("self"), sPeer = lab::ChildParam("peer");
  const std::string sDir = lab::ChildParam("dir");
  CMulticast port;
  ASSERT_EQ(port.Open(kGroup, kPort, 1, fLoopback ? TRUE : FALSE), 0) << port.GetLastWSAError();
  DWORD dwLocal = 0;  // the host's own LAN address, not what its name maps to
  ASSERT_EQ(port.GetLocalIPaddr(&dwLocal), 0);
  EXPECT_EQ(dwLocal, inet_addr(sSelf.c_str()));
  lab::TouchFile(sDir + "/" + sSelf);
  ASSERT_TRUE(lab::WaitForFile(sDir + "/" + sPeer, kChildTimeoutMs));

  for (int i = 0; i < kDatagrams; ++i) {
    std::string s = sSelf + "#" + std::to_string(i);
    ASSERT_EQ(port.Send(reinterpret_cast<BYTE*>(s.data()), static_cast<DWORD>(s.size())),
              static_cast<int>(s.size()));
  }
  int nFromPeer = 0, nOwnSeen = 0, nOwnBytes = 0;
  auto readOne = [&]() -> bool {
    BYTE abBuf[64];
    sockaddr_in from{};
    int n = port.RecvFrom(abBuf, sizeof abBuf, &from);
    if (n == SOCKET_ERROR) return false;
    char szFrom[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &from.sin_addr, szFrom, sizeof szFrom);
    std::string sText(reinterpret_cast<char*>(abBuf), static_cast<size_t>(n));
    if (sPeer == szFrom) {
      EXPECT_EQ(sText.substr(0, sPeer.size() + 1), sPeer + "#");
      ++nFromPeer;
    } else if (sSelf == szFrom) {
      ++nOwnSeen;
      if (n > 0) ++nOwnBytes;
    }
    return true;
  };
  for (int nRounds = 0; nFromPeer < kDatagrams && nRounds < 600; ++nRounds) {
    BOOL fRead = FALSE, fWrite = FALSE;
    port.WaitReady(0, 100000, &fRead, &fWrite, TRUE, FALSE);
    if (fRead) readOne();
  }
  // Own datagrams, if looped back at all, were queued while being sent.
  while (readOne()) {
  }
  EXPECT_EQ(nFromPeer, kDatagrams);
  if (fLoopback) {
    EXPECT_EQ(nOwnBytes, kDatagrams);
  } else {
    EXPECT_EQ(nOwnSeen, 0) << "the kernel looped own datagrams back";
  }
  lab::TouchFile(sDir + "/" + sSelf + ".done");
  // Stay joined until the peer has read everything.
  EXPECT_TRUE(lab::WaitForFile(sDir + "/" + sPeer + ".done", kChildTimeoutMs));
}

void RunTwoPeers(bool fLoopback) {
  ORVALO_LAB_START(theLab, 2);
  std::string sDir = lab::MakeSyncDir();
  ASSERT_FALSE(sDir.empty());
  lab::ChildId ids[2];
  for (int i = 0; i < 2; ++i) {
    ids[i] = theLab->StartSelf(i, "peer",
                               {{"loopback", fLoopback ? "1" : "0"},
                                {"self", theLab->HostAddr(i)},
                                {"peer", theLab->HostAddr(1 - i)},
                                {"dir", sDir}});
    ASSERT_GE(ids[i], 0);
  }
  for (lab::ChildId id : ids) {
    lab::Result r = theLab->Wait(id, kChildTimeoutMs);
    EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
  }
  lab::RemoveTree(sDir);
}

TEST(LabTest, HostsExchangeDatagramsAndLoopbackOffHidesOwn) {
  if (lab::IsChild()) return RunPeer();
  RunTwoPeers(false);
}

TEST(LabTest, HostsExchangeDatagramsAndLoopbackOnEchoesOwn) {
  if (lab::IsChild()) return RunPeer();
  RunTwoPeers(true);
}

TEST(LabTest, NamespacesGoAwayWithTheLabAndCarryTheirAddresses) {
  std::vector<std::string> names;
  {
    ORVALO_LAB_START(theLab, 3);
    for (int i = 0; i < theLab->HostCount(); ++i) {
      names.push_back(theLab->HostNamespace(i));
      EXPECT_TRUE(NamespaceExists(names.back()));
    }
    lab::Result r = theLab->Run(2, {"/usr/sbin/ip", "-4", "-o", "addr", "show", "dev", "eth0"}, kChildTimeoutMs);
    EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
    EXPECT_NE(r.sOutput.find("10.99.0.3/24"), std::string::npos) << r.sOutput;
    r = theLab->Run(0, {"/usr/sbin/ip", "route", "show", "224.0.0.0/4"}, kChildTimeoutMs);
    EXPECT_NE(r.sOutput.find("224.0.0.0/4 dev eth0"), std::string::npos) << r.sOutput;
    r = theLab->Run(1, {"/bin/sh", "-c", "exit 7"}, kChildTimeoutMs);
    EXPECT_EQ(r.nExitCode, 7);
    r = theLab->Run(1, {"/bin/sleep", "30"}, 200);
    EXPECT_EQ(r.nExitCode, -1);  // timed out and killed
  }
  for (const std::string& s : names) EXPECT_FALSE(NamespaceExists(s)) << s;
}

TEST(LabTest, KilledOwnersLeaveNothingBehind) {
  std::string sWhyNot;
  if (!lab::Lab::Available(&sWhyNot)) GTEST_SKIP() << sWhyNot;
  // An owner ended by a signal tears its lab down in the handler.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    lab::Lab theLab(2);
    if (!theLab.Ok()) _exit(3);
    raise(SIGTERM);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(CountNamespacesWithPrefix("orvlab" + std::to_string(pid) + "x"), 0);

  // An owner killed outright leaves them; the next lab removes them.
  pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    lab::Lab theLab(1);
    if (!theLab.Ok()) _exit(3);
    raise(SIGKILL);
    _exit(4);
  }
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  std::string sStale = "orvlab" + std::to_string(pid) + "x";
  EXPECT_EQ(CountNamespacesWithPrefix(sStale), 2);
  {
    lab::Lab theLab(1);
    ASSERT_TRUE(theLab.Ok()) << theLab.Error();
    EXPECT_EQ(CountNamespacesWithPrefix(sStale), 0);
  }
}

}  // namespace
