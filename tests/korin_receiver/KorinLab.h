// The Korin delivery scenario across lab hosts, shared by the end-to-end test
// and the benchmark: one epoch sender, several receivers and an optional
// passive monitor, each a child process on its own host (see tests/lab).
//
// The sender sends a main stream of reliable packets in one epoch, waits
// until every receiver holds all of it (sending unreliable heartbeats, which
// reveal losses at the tail), then sends four more epochs so that the low
// water passes the main stream, and injects a stale packet below it. Each
// receiver checks every reliable packet's bytes, that nothing stale or
// foreign arrives, and reports what it got.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korin_lab {

inline constexpr int kK = 4;

// Parameters by name ("" when absent): group, port, sync, receivers,
// packets (main stream, a multiple of K), epochpackets, rate, holdoff,
// nackmin, nackmax, sendloss, recvloss, index, timeoutms, monitor (0/1),
// forgeries (a forger takes part: the sender also waits for "sprayed").
using Params = std::function<std::string(const std::string&)>;

std::vector<BYTE> PayloadOf(DWORD dwSeq);

// Each runs one role to its end and returns "" on success, else what failed.
// Output lines start with the role's tag and carry key=value figures.
std::string RunSender(const Params& params);
std::string RunReceiver(const Params& params);
std::string RunMonitor(const Params& params);
// A forging host: once the stream runs it sprays `forgeries`
// datagrams (forged progress far ahead, mutated copies of what it hears that
// no sender would send, random bytes, NACKs asking for everything) and
// touches "sprayed".
std::string RunForger(const Params& params);

// Reads "key=value" figures from an output line starting with szTag.
std::map<std::string, double> Figures(const std::string& sOutput, const char* szTag);

}  // namespace korin_lab
