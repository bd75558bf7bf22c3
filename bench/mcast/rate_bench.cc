// Sends on the loopback interface at several configured rates and prints the
// achieved rate, counting each datagram as the limiter charges it (payload +
// 28 bytes of headers).
//
// The rate is measured from the return of the first send to the return of the
// last: the waits in between pay for every send but the last.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mcast/Multicast.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
  DWORD dwBytesPerSec;
  double dSeconds;
};

struct Outcome {
  double dAchievedBytesPerSec;
  long lDatagrams;
  long lFailures;
};

Outcome Measure(CMulticast& port, const Run& run, DWORD dwPayload) {
  std::vector<BYTE> payload(dwPayload, 0x5A);
  port.SetDataRate(run.dwBytesPerSec);
  const double dCharge = dwPayload + CMulticast::kDatagramOverheadBytes;
  long lSent = 0, lFailures = 0;
  Clock::time_point tFirst{}, tLast{};
  const auto tEnd = Clock::now() + std::chrono::duration<double>(run.dSeconds);
  while (Clock::now() < tEnd) {
    if (port.Send(payload.data(), dwPayload) == SOCKET_ERROR) ++lFailures;
    tLast = Clock::now();
    if (lSent++ == 0) tFirst = tLast;
  }
  port.SetDataRate(0);
  double dSpan = std::chrono::duration<double>(tLast - tFirst).count();
  double dRate = dSpan > 0 ? (lSent - 1) * dCharge / dSpan : 0;
  return {dRate, lSent, lFailures};
}

}  // namespace

int main(int argc, char** argv) {
  double dScale = argc > 1 ? atof(argv[1]) : 1.0;  // duration factor
  if (!(dScale > 0)) dScale = 1.0;
  CMulticast::SetInterfaceForTesting("127.0.0.1");
  CMulticast port;
  if (port.OpenSnd("239.77.255.1", 23999, 0) != 0) {
    fprintf(stderr, "cannot open the send socket: %d\n", port.GetLastWSAError());
    return 1;
  }
  const DWORD dwPayload = 1400;
  const Run runs[] = {{10000, 4.0}, {100000, 2.0}, {300000, 2.0}, {1000000, 2.0}, {3000000, 2.0}, {10000000, 2.0}};
  printf("%14s %14s %9s %10s %8s  (payload %u + %u bytes per datagram)\n", "configured B/s", "achieved B/s",
         "deviation", "datagrams", "failed", dwPayload, CMulticast::kDatagramOverheadBytes);
  for (const Run& run : runs) {
    Outcome o = Measure(port, {run.dwBytesPerSec, run.dSeconds * dScale}, dwPayload);
    double dDev = 100.0 * (o.dAchievedBytesPerSec - run.dwBytesPerSec) / run.dwBytesPerSec;
    printf("%14u %14.0f %8.2f%% %10ld %8ld\n", run.dwBytesPerSec, o.dAchievedBytesPerSec, dDev, o.lDatagrams,
           o.lFailures);
  }
  return 0;
}
