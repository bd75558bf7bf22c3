// The file carousel across hosts of the namespace lab: a sender on one host
// sends a 20 MiB file at 40 Mbit/s (K 16, N 255, payload 1024) to R receiver
// hosts, each of which loses the given share of the datagrams for real (an
// iptables `statistic` rule inside its namespace). Per case it prints the
// time until the last receiver had the whole file against the carousel's own
// limit, and per receiver its CPU seconds, ring drops (datagrams that found no
// free ring buffer), socket overflows (the kernel's receive-buffer errors of
// its namespace) and sequence gaps (all datagrams it never saw). Needs root.
//   pelago_lab_bench R [loss percent ...]     (losses default to 0 10 30)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "bench/pelago/CarouselCase.h"
#include "bench/pelago/CarouselLimit.h"
#include "mcast/Multicast.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "tests/lab/Lab.h"

namespace {

using namespace pelago_bench;  // the case
constexpr unsigned kTimeoutMs = 180000;
const char* const kGroup = "239.201.8.3";
const char* const kPort = "24603";

std::string Param(const char* szName) { return lab::ChildParam(szName); }

double MonotonicSec() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSec() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Context switches of all threads so far: how often they slept and woke.
double Switches() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_nvcsw + ru.ru_nivcsw);
}

// UDP receive-buffer errors of this namespace (/proc/net/snmp).
long long SocketOverflows() {
  std::ifstream in("/proc/net/snmp");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("Udp:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "RcvbufErrors") return std::atoll(value.c_str());
  }
  return -1;
}

// The pseudo-random source file.
void WriteSource(const std::string& path) {
  std::string data(kFileLen, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  platform::WriteWholeFile(path, data.data(), data.size());
}

int RunSender() {
  CPelagoSession session;
  if (session.SessionInit(kGroup, static_cast<unsigned short>(std::atoi(kPort)), 1, kBytesPerSec,
                          kSourceId, kK, kN, kPayloadLen) != 0)
    return 1;
  CPelagoSend send;
  if (send.Init(&session) != 0) return 1;
  std::string file = Param("file");
  const double dStart = MonotonicSec();
  if (send.Start(file.data(), 0) != 0) return 1;
  lab::WaitForFile(Param("stop"), kTimeoutMs);
  tPelagoSendStats st{};
  send.GetSendStats(&st);
  const double dEnd = MonotonicSec();
  send.StopPelagoSend();
  std::printf("start=%.6f end=%.6f sent=%u\n", dStart, dEnd, st.SentCount);
  return 0;
}

int RunReceiver() {
  const double dCpu0 = CpuSec(), dSwitches0 = Switches();
  CPelagoSession session;
  session.SessionInit(kGroup, static_cast<unsigned short>(std::atoi(kPort)), kSourceId);
  CPelagoRecv recv;
  const std::string save = Param("save");
  platform::CreateDirectory(save);
  if (recv.Init(&session, save.c_str(), TRUE) != 0 || recv.StartPelagoRecv() != 0) {
    lab::TouchFile(Param("done"));
    return 1;
  }
  lab::TouchFile(Param("ready"));
  double dDone = -1;
  std::string name;
  const double dDeadline = MonotonicSec() + kTimeoutMs / 1000.0;
  while (dDone < 0 && MonotonicSec() < dDeadline) {
    CPelagoEvent e;
    if (recv.GetNextRecvEvent(&e, 200) != 0) break;
    if (e.GetEventType() == PELAGORE_FILE_COMPLETE) {
      dDone = MonotonicSec();
      name = e.GetFileName();
    }
    if (e.GetEventType() == PELAGORE_FATAL_ERROR) break;
  }
  const double dCpu = CpuSec() - dCpu0, dSwitches = Switches() - dSwitches0;
  tPelagoRecvStats st{};
  recv.GetRecvStats(&st);
  recv.StopPelagoRecv();
  // The check reads both files whole: not while other receivers still work.
  lab::TouchFile(Param("done"));
  lab::WaitForFile(Param("verify"), kTimeoutMs);
  std::string want, got;
  platform::ReadWholeFile(Param("file"), &want);
  const bool fWhole = dDone >= 0 &&
                      platform::ReadWholeFile(platform::JoinPath(save, name), &got) == 0 &&
                      got == want;
  platform::DeleteTree(save);
  std::printf(
      "done=%.6f cpu=%.4f switches=%.0f dropped=%u overflows=%lld gaps=%u recvd=%u "
      "redundant=%u whole=%d\n",
      dDone, dCpu, dSwitches, st.Dropped, SocketOverflows(), st.LostPackets, st.RecvdCount,
      st.RedundantCount, fWhole ? 1 : 0);
  return fWhole ? 0 : 1;
}

// The key=value figures of a child's last output line that has them.
std::map<std::string, double> Figures(const std::string& sOutput) {
  std::map<std::string, double> m;
  std::istringstream lines(sOutput);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("done=") != 0 && line.find("start=") != 0) continue;
    std::istringstream words(line);
    std::string w;
    while (words >> w) {
      const auto eq = w.find('=');
      if (eq != std::string::npos) m[w.substr(0, eq)] = std::atof(w.c_str() + eq + 1);
    }
  }
  return m;
}

bool RunCase(int nReceivers, double dLossPerc, const std::string& sSelf, const std::string& sDir,
             const std::string& sFile) {
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("\n%d receivers, loss %.0f%% (load average %.2f %.2f %.2f on %u cores)\n", nReceivers,
              dLossPerc, load[0], load[1], load[2],
              std::max(1u, std::thread::hardware_concurrency()));
  std::fflush(stdout);
  lab::Lab theLab(nReceivers + 1);
  if (!theLab.Ok()) {
    std::fprintf(stderr, "lab: %s\n", theLab.Error().c_str());
    return false;
  }
  if (dLossPerc > 0) {
    char szProb[32];
    std::snprintf(szProb, sizeof szProb, "%.4f", dLossPerc / 100);
    for (int i = 1; i <= nReceivers; ++i) {
      lab::Result r =
          theLab.Run(i,
                     {"iptables", "-A", "INPUT", "-p", "udp", "-d", kGroup, "-m", "statistic",
                      "--mode", "random", "--probability", szProb, "-j", "DROP"},
                     20000);
      if (r.nExitCode != 0) {
        std::fprintf(stderr, "iptables on host %d failed: %s\n", i, r.sOutput.c_str());
        return false;
      }
    }
  }
  auto start = [&](int iHost, const char* szRole, std::map<std::string, std::string> params) {
    std::map<std::string, std::string> env = {{"ORVALO_LAB_ROLE", szRole}};
    params["file"] = sFile;
    for (const auto& [k, v] : params) env["ORVALO_LAB_P_" + k] = v;
    return theLab.Start(iHost, {sSelf}, env);
  };
  std::vector<lab::ChildId> receivers;
  for (int i = 1; i <= nReceivers; ++i) {
    const std::string sTag = std::to_string(i);
    receivers.push_back(start(i, "receiver",
                              {{"save", platform::JoinPath(sDir, "save" + sTag)},
                               {"ready", platform::JoinPath(sDir, "ready" + sTag)},
                               {"done", platform::JoinPath(sDir, "done" + sTag)},
                               {"verify", platform::JoinPath(sDir, "verify")}}));
  }
  for (int i = 1; i <= nReceivers; ++i) {
    if (!lab::WaitForFile(platform::JoinPath(sDir, "ready" + std::to_string(i)), 30000)) {
      std::fprintf(stderr, "receiver %d did not start\n", i);
      return false;
    }
  }
  const std::string sStop = platform::JoinPath(sDir, "stop");
  lab::ChildId sender = start(0, "sender", {{"stop", sStop}});
  // Every receiver done (or given up on) before any checks its copy; the
  // sender stops then too, so that its rate is that of the transfer alone.
  const std::string sVerify = platform::JoinPath(sDir, "verify");
  for (int i = 1; i <= nReceivers; ++i)
    lab::WaitForFile(platform::JoinPath(sDir, "done" + std::to_string(i)), kTimeoutMs + 30000);
  lab::TouchFile(sStop);
  lab::TouchFile(sVerify);
  std::vector<std::map<std::string, double>> figs;
  bool fOk = true;
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    lab::Result r = theLab.Wait(receivers[i], kTimeoutMs + 30000);
    figs.push_back(Figures(r.sOutput));
    if (r.nExitCode != 0 || figs.back().count("done") == 0) {
      std::fprintf(stderr, "receiver %zu failed (%d):\n%s\n", i + 1, r.nExitCode,
                   r.sOutput.c_str());
      fOk = false;
    }
  }
  lab::Result rs = theLab.Wait(sender, 30000);
  const auto snd = Figures(rs.sOutput);
  if (rs.nExitCode != 0 || snd.count("start") == 0) {
    std::fprintf(stderr, "sender failed (%d):\n%s\n", rs.nExitCode, rs.sOutput.c_str());
    return false;
  }
  for (int i = 1; i <= nReceivers; ++i) {
    std::remove(platform::JoinPath(sDir, "ready" + std::to_string(i)).c_str());
    std::remove(platform::JoinPath(sDir, "done" + std::to_string(i)).c_str());
  }
  std::remove(sStop.c_str());
  std::remove(sVerify.c_str());
  if (!fOk) return false;

  const double dStart = snd.at("start");
  double dLast = 0, dCpuMax = 0, dCpuSum = 0;
  for (const auto& f : figs) {
    dLast = std::max(dLast, f.at("done") - dStart);
    dCpuMax = std::max(dCpuMax, f.at("cpu"));
    dCpuSum += f.at("cpu");
  }
  // Blocks of the stream: the file, its 41-byte record ("master.cab") and
  // the 8-byte tail, in groups of k.
  const std::size_t nStream = kFileLen + 32 + 10 + 8;
  const int nGroups = static_cast<int>((nStream + kK * kPayloadLen - 1) / (kK * kPayloadLen));
  const double dPasses = pelago_bench::ExpectedPasses(nGroups, kK, dLossPerc / 100, nReceivers);
  const double dLimit = dPasses * nGroups * kChargeBytes / kBytesPerSec;
  const double dSentRate = snd.at("sent") * kChargeBytes / std::max(1e-9, snd.at("end") - dStart);
  std::printf(
      "  last receiver whole %.3f s, carousel limit %.3f s (%.2f passes of %d groups), "
      "ratio %.3f\n",
      dLast, dLimit, dPasses, nGroups, dLast / dLimit);
  std::printf("  sender %0.f datagrams, %.0f B/s charged (set %lu); ratio at that rate %.3f\n",
              snd.at("sent"), dSentRate, kBytesPerSec, dLast / (dLimit * kBytesPerSec / dSentRate));
  std::printf("  receiver CPU max %.3f s, mean %.3f s\n", dCpuMax, dCpuSum / nReceivers);
  std::printf("  %8s %8s %8s %9s %10s %10s %8s %9s %10s\n", "receiver", "whole s", "cpu s",
              "switches", "ring drops", "overflows", "gaps", "received", "redundant");
  for (std::size_t i = 0; i < figs.size(); ++i) {
    const auto& f = figs[i];
    std::printf("  %8zu %8.3f %8.3f %9.0f %10.0f %10.0f %8.0f %9.0f %10.0f\n", i + 1,
                f.at("done") - dStart, f.at("cpu"), f.at("switches"), f.at("dropped"),
                f.at("overflows"), f.at("gaps"), f.at("recvd"), f.at("redundant"));
  }
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (lab::IsChild()) {
    const int rc = lab::ChildRole() == "sender" ? RunSender() : RunReceiver();
    std::fflush(stdout);
    return rc;
  }
  const int nReceivers = argc > 1 ? std::atoi(argv[1]) : 0;
  if (nReceivers < 1 || nReceivers > 199) {
    std::fprintf(stderr, "usage: %s receivers [loss percent ...]\n", argv[0]);
    return 2;
  }
  std::vector<double> losses;
  for (int i = 2; i < argc; ++i) losses.push_back(std::atof(argv[i]));
  if (losses.empty()) losses = {0, 10, 30};
  std::string sWhyNot;
  if (!lab::Lab::Available(&sWhyNot)) {
    std::fprintf(stderr, "no lab here: %s\n", sWhyNot.c_str());
    return 2;
  }
  const std::string sSelf = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string sDir = lab::MakeSyncDir();
  const std::string sFile = platform::JoinPath(sDir, "master.cab");
  WriteSource(sFile);
  std::printf(
      "20 MiB at %lu B/s, K %d, N %d, payload %lu; ring drops include the datagram "
      "that teaches the payload length\n",
      kBytesPerSec, kK, kN, static_cast<unsigned long>(kPayloadLen));
  bool fOk = true;
  for (double loss : losses) fOk = RunCase(nReceivers, loss, sSelf, sDir, sFile) && fOk;
  lab::RemoveTree(sDir);
  return fOk ? 0 : 1;
}
