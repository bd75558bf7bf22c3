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
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSend.h"
#include "bench/pelago/CarouselCase.h"
#include "bench/pelago/CarouselLimit.h"
#include "mcast/Multicast.h"
#include "platform/File.h"

namespace {

using namespace pelago_bench;  // the case

}  // namespace

int main() {
  CMulticast::SetInterfaceForTesting("127.0.0.1");
  std::string dir;
  if (platform::CreateTempDirectory("pelago_bench", &dir) != 0) return 1;
  const std::string file = platform::JoinPath(dir, "master.cab");
  {
    std::string data(kFileLen, '\0');
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
    if (losses[i] > 0) {
      expPasses = pelago_bench::ExpectedWholePasses(groups, kK, losses[i] / 100);
      expDatagramPasses = pelago_bench::ExpectedPasses(groups, kK, losses[i] / 100, 1);
    }
    std::printf(
        "loss %2.0f%%: %.3f s, ratio to ideal %.3f; datagrams taken in %u = %.3f x data blocks "
        "(dropped %u); passes %.2f, carousel limit %.2f passes (%.2f to the last group's "
        "block), measured/limit %.3f; file %s\n",
        losses[i], seconds[i], seconds[i] / ideal, st.RecvdCount, st.RecvdCount / blocks,
        st.Dropped, passes, expPasses, expDatagramPasses, passes / expDatagramPasses,
        got.size() == kFileLen ? "whole" : "WRONG");
  }
  platform::DeleteTree(dir);
  return rc;
}
