#include "tests/show/ShowCast.h"

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>

namespace show {

long MsSince(Clock::time_point t) { return MsBetween(t, Clock::now()); }
long MsBetween(Clock::time_point a, Clock::time_point b) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count());
}

std::string OwnFolder() {
  char sz[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", sz, sizeof sz - 1);
  if (n <= 0) return ".";
  std::string s(sz, static_cast<size_t>(n));
  return s.substr(0, s.rfind('/'));
}

bool CMember::Printed(const std::string& s) const {
  for (const std::string& l : printed) {
    if (l.find(s) != std::string::npos) return true;
  }
  return false;
}

CCast::CCast(CCastOptions options) : m_o(std::move(options)) {
  m_presenter.sName = "presenter";
  m_presenter.sFile = "presenter";
  m_presenter.iHost = 0;
  for (int i = 0; i < m_o.nViewers; ++i) {
    auto v = std::make_unique<CMember>();
    v->sName = std::string("viewer ") + static_cast<char>('A' + i);
    v->sFile = std::string("viewer-") + static_cast<char>('a' + i);
    v->iHost = i + 1;
    m_viewers.push_back(std::move(v));
  }
}

CCast::~CCast() {
  for (CMember* m : All()) m->proc.Stop();
  m_pLab.reset();
  if (!m_sWork.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_sWork, ec);
  }
}

std::vector<CMember*> CCast::All() {
  std::vector<CMember*> all{&m_presenter};
  for (auto& v : m_viewers) all.push_back(v.get());
  return all;
}

std::string CCast::NamespaceOf(const CMember& m) const {
  return m_pLab ? m_pLab->HostNamespace(m.iHost) : std::string();
}

std::map<std::string, std::string> CCast::EnvOf(const CMember& m) const {
  std::string sDir = m_sWork + "/" + m.sFile;
  std::map<std::string, std::string> env{
      {"ORVALO_REGISTRY", sDir + "/registry.db"},
      {"TMPDIR", sDir + "/tmp"},
      {"POWERPNT_SVG", m_sOut + "/" + m.sFile + ".svg"},
  };
  // On this machine alone the groups stay on loopback.
  if (!m_pLab) env["ORVALO_MCAST_INTERFACE"] = "127.0.0.1";
  return env;
}

bool CCast::SetUp() {
  std::string sWhy;
  if (m_o.fLab && lab::Lab::Available(&sWhy)) {
    m_pLab = std::make_unique<lab::Lab>(1 + m_o.nViewers);
    if (!m_pLab->Ok()) {
      std::printf("The lab hosts could not be made (%s); running on this machine instead.\n",
                  m_pLab->Error().c_str());
      m_pLab.reset();
    }
  } else if (m_o.fLab) {
    std::printf("%s,\nso presenter and viewers run as processes of this machine, on loopback.\n",
                sWhy.c_str());
  }
  char szWork[] = "/tmp/orvalo-show-work-XXXXXX";
  if (mkdtemp(szWork) == nullptr) {
    std::printf("cannot make a work folder in /tmp\n");
    return false;
  }
  m_sWork = szWork;
  m_sOut = m_o.sOutDir;
  if (m_sOut.empty()) {
    char szOut[] = "/tmp/orvalo-show-XXXXXX";
    if (mkdtemp(szOut) == nullptr) return false;
    m_sOut = szOut;
  }
  std::error_code ec;
  std::filesystem::create_directories(m_sOut, ec);
  for (CMember* m : All()) {
    std::filesystem::create_directories(m_sWork + "/" + m->sFile + "/tmp", ec);
    m->log.open(m_sOut + "/" + m->sFile + ".log");
    if (!Install(*m)) return false;
  }
  if (m_pLab && m_o.nLossPercent > 0) {
    for (auto& v : m_viewers) {
      if (!AddLoss(*v)) return false;
    }
  }
  return true;
}

// Installs Powerpnt into the member's own registry, as an installer would.
bool CCast::Install(CMember& m) {
  CShowProcess p;
  std::string sErr;
  if (!p.Start({m_o.sBinDir + "/Powerpnt", "--install"}, EnvOf(m), NamespaceOf(m), &sErr)) {
    std::printf("cannot run Powerpnt --install: %s\n", sErr.c_str());
    return false;
  }
  bool fEnded = p.WaitEnded(20000);
  std::vector<std::string> lines;
  p.ReadLines(&lines);
  if (!fEnded || p.ExitCode() != 0) {
    std::printf("Powerpnt --install failed for %s (exit %d)\n", m.sName.c_str(), p.ExitCode());
    for (const std::string& l : lines) std::printf("  %s\n", l.c_str());
    return false;
  }
  return true;
}

// Drops that share of the show's datagrams on arrival at the member's host.
bool CCast::AddLoss(CMember& m) {
  char szProb[16];
  std::snprintf(szProb, sizeof szProb, "%.2f", m_o.nLossPercent / 100.0);
  const char* szTable = access("/usr/sbin/iptables", X_OK) == 0 ? "/usr/sbin/iptables" : "/sbin/iptables";
  CShowProcess p;
  std::string sErr;
  if (!p.Start({szTable, "-A", "INPUT", "-p", "udp", "-d", "239.192.77.0/24", "-m", "statistic",
                "--mode", "random", "--probability", szProb, "-j", "DROP"},
               {}, NamespaceOf(m), &sErr) ||
      !p.WaitEnded(10000) || p.ExitCode() != 0) {
    std::vector<std::string> lines;
    p.ReadLines(&lines);
    std::printf("could not add %d %% loss on %s's host with iptables %s\n", m_o.nLossPercent,
                m.sName.c_str(), sErr.c_str());
    for (const std::string& l : lines) std::printf("  %s\n", l.c_str());
    return false;
  }
  return true;
}

bool CCast::Launch(CMember& m, const std::vector<std::string>& args) {
  std::vector<std::string> argv{m_o.sBinDir + "/orvalo", kMasterAddr, kMasterPort, kLiveAddr,
                                kLivePort, kTTL};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string sErr;
  if (!m.proc.Start(argv, EnvOf(m), NamespaceOf(m), &sErr)) {
    std::printf("cannot start the launcher for %s: %s\n", m.sName.c_str(), sErr.c_str());
    return false;
  }
  m.fStarted = true;
  return true;
}

bool CCast::LaunchViewer(CMember& m) { return Launch(m, {}); }

bool CCast::LaunchPresenter(const std::string& sPresentation) {
  return Launch(m_presenter, {m_o.sRateKbps, sPresentation});
}

void CCast::Pump(int nMs) {
  std::vector<CMember*> members;
  std::vector<pollfd> fds;
  for (CMember* m : All()) {
    if (m->proc.OutputFd() < 0) continue;
    members.push_back(m);
    fds.push_back({m->proc.OutputFd(), POLLIN, 0});
  }
  if (fds.empty()) {
    usleep(static_cast<useconds_t>(nMs) * 1000);
    return;
  }
  if (poll(fds.data(), fds.size(), nMs) <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    std::vector<std::string> lines;
    members[i]->proc.ReadLines(&lines);
    for (const std::string& l : lines) {
      members[i]->log << l << '\n';
      members[i]->printed.push_back(l);
      if (ApplyLine(l, &members[i]->view)) members[i]->tChanged = Clock::now();
    }
    members[i]->log.flush();
  }
}

bool CCast::WaitFor(const std::function<bool()>& done, unsigned dwTimeoutMs) {
  auto t0 = Clock::now();
  while (!done()) {
    if (MsSince(t0) >= static_cast<long>(dwTimeoutMs)) return false;
    Pump(20);
  }
  return true;
}

void CCast::QuitAll(unsigned dwTimeoutMs) {
  for (CMember* m : All()) m->proc.SendLine("quit");
  WaitFor(
      [&] {
        for (CMember* m : All()) {
          if (!m->proc.Ended()) return false;
        }
        return true;
      },
      dwTimeoutMs);
}

}  // namespace show
