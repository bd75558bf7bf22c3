// Korin delivery across lab hosts: one epoch sender, N receivers and a
// passive monitor host that counts what goes over the wire. Runs the same
// scenario without loss, with 10 percent simulated receive loss at every
// receiver, and with 10 percent simulated send loss (every receiver misses
// the same packets), and prints packets sent, NACKs, repairs and the time to
// full delivery. Needs root (network namespaces).
//   korin_lab_bench        the presentation add-in's timers
//   korin_lab_bench fast   short NACK delays and hold-off
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/korin_receiver/KorinLab.h"
#include "tests/lab/Lab.h"

namespace {

constexpr unsigned kTimeoutMs = 180000;

struct Scenario {
  const char* szName;
  int nReceivers;
  const char* szRecvLoss;
  const char* szSendLoss;
};

// NACK delays, back-off cap and resend hold-off: the presentation add-in's,
// or short ones ("fast") as the end-to-end test uses.
struct Timers {
  const char* szNackMinMs;
  const char* szNackMaxMs;
  const char* szHoldOffMs;
};
Timers g_timers = {"100", "4500", "4400"};

struct Outcome {
  bool fOk = false;
  std::map<std::string, double> sender, monitor;
  std::vector<std::map<std::string, double>> receivers;
};

std::string Param(const std::string& sName) { return lab::ChildParam(sName); }

int RunChild() {
  const std::string sRole = lab::ChildRole();
  std::string sError = sRole == "sender"     ? korin_lab::RunSender(Param)
                       : sRole == "receiver" ? korin_lab::RunReceiver(Param)
                                             : korin_lab::RunMonitor(Param);
  std::fflush(stdout);
  if (!sError.empty()) std::fprintf(stderr, "%s: %s\n", sRole.c_str(), sError.c_str());
  return sError.empty() ? 0 : 1;
}

Outcome Run(const Scenario& sc) {
  Outcome out;
  lab::Lab theLab(sc.nReceivers + 2);
  if (!theLab.Ok()) {
    std::fprintf(stderr, "lab: %s\n", theLab.Error().c_str());
    return out;
  }
  const std::string sSelf = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string sSync = lab::MakeSyncDir();
  std::map<std::string, std::string> params = {
      {"group", "239.71.9.1"},      {"port", "24719"},       {"sync", sSync},
      {"receivers", std::to_string(sc.nReceivers)},          {"packets", "400"},
      {"epochpackets", "8"},        {"rate", "1000000"},     {"holdoff", g_timers.szHoldOffMs},
      {"nackmin", g_timers.szNackMinMs}, {"nackmax", g_timers.szNackMaxMs},     {"recvloss", sc.szRecvLoss},
      {"sendloss", sc.szSendLoss},  {"monitor", "1"},
      {"timeoutms", std::to_string(kTimeoutMs)},
  };
  auto start = [&](int iHost, const char* szRole) {
    std::map<std::string, std::string> env = {{"ORVALO_LAB_ROLE", szRole}};
    for (const auto& [k, v] : params) env["ORVALO_LAB_P_" + k] = v;
    return theLab.Start(iHost, {sSelf}, env);
  };
  lab::ChildId monitor = start(sc.nReceivers + 1, "monitor");
  std::vector<lab::ChildId> receivers;
  for (int i = 0; i < sc.nReceivers; ++i) {
    params["index"] = std::to_string(i);
    receivers.push_back(start(i + 1, "receiver"));
  }
  lab::ChildId sender = start(0, "sender");
  out.fOk = true;
  auto collect = [&](lab::ChildId id, const char* szTag) {
    lab::Result r = theLab.Wait(id, kTimeoutMs + 30000);
    if (r.nExitCode != 0) {
      out.fOk = false;
      std::fprintf(stderr, "%s failed (%d):\n%s\n", szTag, r.nExitCode, r.sOutput.c_str());
    }
    return korin_lab::Figures(r.sOutput, szTag);
  };
  out.sender = collect(sender, "SENDER");
  for (lab::ChildId id : receivers) out.receivers.push_back(collect(id, "RECEIVER"));
  out.monitor = collect(monitor, "MONITOR");
  lab::RemoveTree(sSync);
  return out;
}

double DeliveryMs(const Outcome& o) {
  double dLast = 0;
  for (const auto& r : o.receivers) dLast = std::max(dLast, r.at("done"));
  return dLast - o.sender.at("start");
}

void Report(const Scenario& sc, const Outcome& o, double dBaselineMs) {
  double dLost = 0;
  for (const auto& r : o.receivers) dLost += r.at("lost");
  const double dRepairs = o.monitor.at("repairs");
  const double dNACKs = o.monitor.at("nacks");
  const double dUnsent = o.monitor.at("unsent");
  std::printf("\n%s: %d receivers, receive loss %s%%, send loss %s%%\n", sc.szName,
              sc.nReceivers, sc.szRecvLoss, sc.szSendLoss);
  std::printf("  reliable packets            %.0f\n", o.sender.at("sent"));
  std::printf("  datagrams sent by sender    %.0f (originals %.0f, repairs %.0f, heartbeats %.0f)\n",
              o.monitor.at("originals") + dUnsent + dRepairs + o.monitor.at("unreliable"),
              o.monitor.at("originals") + dUnsent, dRepairs, o.monitor.at("unreliable"));
  std::printf("  NACK packets                %.0f in all, %.2f per receiver (%.0f ranges)\n",
              dNACKs, dNACKs / sc.nReceivers, o.monitor.at("nackranges"));
  std::printf("  packets lost at receivers   %.0f (sum over receivers)\n", dLost);
  if (dLost > 0) std::printf("  repairs per lost packet     %.2f\n", dRepairs / dLost);
  if (dUnsent > 0) {
    std::printf("  packets lost in sending     %.0f in %.0f keys\n", dUnsent,
                o.monitor.at("unsentkeys"));
    std::printf("  repairs per packet lost in sending %.2f\n", dRepairs / dUnsent);
    std::printf("  per lost key, all receivers: %.2f NACK packets, %.2f NACK ranges\n",
                dNACKs / o.monitor.at("unsentkeys"),
                o.monitor.at("nackranges") / o.monitor.at("unsentkeys"));
  }
  std::printf("  time to full delivery       %.0f ms", DeliveryMs(o));
  if (dBaselineMs > 0) std::printf(" (without loss %.0f ms)", dBaselineMs);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (lab::IsChild()) return RunChild();
  if (argc > 1 && std::string(argv[1]) == "fast") g_timers = {"20", "200", "300"};
  std::printf("NACK delay %s..%s ms (back-off cap 3), resend hold-off %s ms, K = 4, 432 packets\n",
              g_timers.szNackMinMs, g_timers.szNackMaxMs, g_timers.szHoldOffMs);
  std::string sWhyNot;
  if (!lab::Lab::Available(&sWhyNot)) {
    std::fprintf(stderr, "korin_lab_bench needs the lab: %s\n", sWhyNot.c_str());
    return 2;
  }
  const Scenario scenarios[] = {
      {"no loss", 5, "0", "0"},
      {"receive loss", 5, "10", "0"},
      {"no loss", 8, "0", "0"},
      {"send loss", 8, "0", "10"},
  };
  double dBaselineMs = 0;
  for (const Scenario& sc : scenarios) {
    Outcome o = Run(sc);
    if (!o.fOk) return 1;
    Report(sc, o, std::string(sc.szRecvLoss) == "0" && std::string(sc.szSendLoss) == "0"
                      ? 0
                      : dBaselineMs);
    if (std::string(sc.szRecvLoss) == "0" && std::string(sc.szSendLoss) == "0") {
      dBaselineMs = DeliveryMs(o);
    }
  }
  return 0;
}
