// How close the file carousel comes to its limits: a 20 MiB file to three
// receivers on this machine's loopback interface at a 40 Mbit/s rate cap, the
// receivers losing 0, 10 and 30 percent of the datagrams.
//
// For each receiver: the time until it had the file, as a ratio to the ideal
// (one datagram per data block, each charged as the rate limiter charges it,
// at the set rate); the datagrams it took in against the data blocks; and,
// under loss, the passes (one block index across all groups) it needed
// against the carousel's own limit: the expected number of passes until every
// group holds k blocks.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "mcast/Multicast.h"
#include "platform/File.h"

namespace {

constexpr unsigned long kSourceId = 193894;
constexpr DWORD kPayloadLen = 1024;
constexpr int kK = 16;
constexpr int kN = 255;
constexpr unsigned long kBytesPerSec = 40000000 / 8;
constexpr double kChargeBytes = 24 + kPayloadLen + CMulticast::kDatagramOverheadBytes;

// P(a group holds k blocks after t passes) with loss p: P(Binomial(t, 1-p) >= k).
double GroupDone(int t, int k, double p) {
  if (t < k) return 0.0;
  double sum = 0.0;  // P(Binomial < k)
  for (int i = 0; i < k; ++i) {
    double logC = std::lgamma(t + 1.0) - std::lgamma(i + 1.0) - std::lgamma(t - i + 1.0);
    sum += std::exp(logC + i * std::log(1 - p) + (t - i) * std::log(p));
  }
  return 1.0 - sum;
}

// Expected whole passes until every group is done, and expected datagrams
// (in passes) until the last group's k-th block: group g's blocks come at
// positions g, g + G, g + 2G, ...
void ExpectedPasses(int nGroups, int k, double p, double* pPasses, double* pDatagramPasses) {
  double passes = 0.0, datagrams = 0.0;
  for (int t = 0; t < 2000; ++t) {
    const double ft = GroupDone(t, k, p), ft1 = GroupDone(t + 1, k, p);
    const double allT = std::pow(ft, nGroups);
    passes += 1.0 - allT;
    // Datagrams d = t*G + j, j = 0..G-1: groups below j have had t+1 passes.
    for (int j = 0; j < nGroups; ++j)
      datagrams += 1.0 - std::pow(ft1, j) * std::pow(ft, nGroups - j);
    if (allT > 1.0 - 1e-12) break;
  }
  *pPasses = passes;
  *pDatagramPasses = datagrams / nGroups;
}

}  // namespace

int main() {
  CMulticast::SetInterfaceForTesting("127.0.0.1");
  std::string dir;
  if (platform::CreateTempDirectory("pelago_bench", &dir) != 0) return 1;
  const std::string file = platform::JoinPath(dir, "master.cab");
  {
    std::string data(20u << 20, '\0');
    std::uint32_t x = 1;
    for (char& c : data) {
      x = x * 1664525u + 1013904223u;
      c = static_cast<char>(x >> 24);
    }
    platform::WriteWholeFile(file, data.data(), data.size());
  }
  const char* szGroup = "239.201.7.9";
  const unsigned short wPort = 24601;
  const double losses[] = {0.0, 10.0, 30.0};
  CPelagoRecv recvs[3];
  std::vector<std::string> saves;
  for (int i = 0; i < 3; ++i) {
    saves.push_back(platform::JoinPath(dir, "save" + std::to_string(i)));
    platform::CreateDirectory(saves[i]);
    CPelagoSession rs;
    rs.SessionInit(szGroup, wPort, kSourceId);
    recvs[i].SetSimLoss(static_cast<float>(losses[i]));
    if (recvs[i].Init(&rs, saves[i].c_str(), TRUE) != 0 || recvs[i].StartPelagoRecv() != 0) {
      std::fprintf(stderr, "receiver %d failed to start\n", i);
      return 1;
    }
  }
  CPelagoSession ss;
  ss.SessionInit(szGroup, wPort, 1, kBytesPerSec, kSourceId, kK, kN, kPayloadLen);
  CPelagoSend send;
  send.Init(&ss);
  std::vector<double> seconds(3, -1.0);
  const auto start = std::chrono::steady_clock::now();
  if (send.Start(const_cast<char*>(file.c_str()), 0) != 0) return 1;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&, i] {
      for (;;) {
        CPelagoEvent e;
        if (recvs[i].GetNextRecvEvent(&e, 100) != 0) return;
        if (e.GetEventType() == PELAGORE_FILE_COMPLETE) {
          seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                           .count();
          return;
        }
        if (e.GetEventType() == PELAGORE_FATAL_ERROR || e.GetEventType() == PELAGORE_ERROR) return;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) return;
      }
    });
  for (auto& t : waiters) t.join();
  send.StopPelagoSend();

  const double blocks = 20496;  // 1,281 groups of 16
  const int groups = 1281;
  const double ideal = blocks * kChargeBytes / kBytesPerSec;
  std::printf("20 MiB, %d groups of %d, %.0f data blocks, %lu bytes/s, ideal %.3f s\n", groups, kK,
              blocks, kBytesPerSec, ideal);
  int rc = 0;
  for (int i = 0; i < 3; ++i) {
    tPelagoRecvStats st;
    recvs[i].GetRecvStats(&st);
    recvs[i].StopPelagoRecv();
    if (seconds[i] < 0) {
      std::printf("loss %2.0f%%: no file\n", losses[i]);
      rc = 1;
      continue;
    }
    std::string got;
    platform::ReadWholeFile(platform::JoinPath(saves[i], "master.cab"), &got);
    const double passes = seconds[i] * kBytesPerSec / kChargeBytes / groups;
    double expPasses = kK, expDatagramPasses = kK;
    if (losses[i] > 0) ExpectedPasses(groups, kK, losses[i] / 100, &expPasses, &expDatagramPasses);
    std::printf(
        "loss %2.0f%%: %.3f s, ratio to ideal %.3f; datagrams taken in %u = %.3f x data blocks "
        "(dropped %u); passes %.2f, carousel limit %.2f passes (%.2f to the last group's "
        "block), measured/limit %.3f; file %s\n",
        losses[i], seconds[i], seconds[i] / ideal, st.RecvdCount, st.RecvdCount / blocks,
        st.Dropped, passes, expPasses, expDatagramPasses, passes / expDatagramPasses,
        got.size() == (20u << 20) ? "whole" : "WRONG");
  }
  platform::DeleteTree(dir);
  return rc;
}
