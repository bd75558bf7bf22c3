#include "tests/show/ShowRun.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "tests/lab/Lab.h"
#include "tests/show/ShowProcess.h"
#include "tests/show/ShowView.h"

namespace show {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kMasterAddr = "239.192.77.1";
constexpr const char* kMasterPort = "5150";
constexpr const char* kLiveAddr = "239.192.77.2";
constexpr const char* kLivePort = "5152";
constexpr const char* kTTL = "1";
constexpr const char* kRateKbps = "8000";

long MsSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// One Powerpnt of the show, started through the launcher.
struct CMember {
  std::string sName;       // "presenter", "viewer A"
  std::string sFile;       // "presenter", "viewer-a": its files' names
  int iHost = 0;
  CShowProcess proc;
  CView view;
  Clock::time_point tChanged;  // when view last changed
  bool fStarted = false;
  bool fSynced = false;    // has shown what the presenter shows at least once
  int iSyncStep = -1;      // the step at which it first followed
  std::vector<int> missed; // steps (after its sync) it did not follow in time
  long nSlowestMs = -1;
  int iSlowestStep = -1;
  std::ofstream log;       // everything it printed
};

class CShow {
 public:
  explicit CShow(const CShowOptions& o) : m_o(o) {}
  ~CShow() { Cleanup(); }
  int Run();

 private:
  bool SetUp();
  bool Install(CMember& m);
  bool Launch(CMember& m, bool fPresenter);
  std::string NamespaceOf(const CMember& m) const {
    return m_pLab ? m_pLab->HostNamespace(m.iHost) : std::string();
  }
  std::map<std::string, std::string> EnvOf(const CMember& m) const;
  void Pump(int nMs);
  bool WaitFor(const std::function<bool()>& done, unsigned dwTimeoutMs);
  void Say(const std::string& s) {
    if (!m_o.fQuiet) std::printf("%s\n", s.c_str()), std::fflush(stdout);
  }
  std::string ViewerCell(const CMember& v, int iStep, long nMs, bool fFollowed) const;
  void Cleanup();

  CShowOptions m_o;
  std::unique_ptr<lab::Lab> m_pLab;
  std::string m_sWork;  // registry files and temporary folders, removed at the end
  std::string m_sOut;   // pictures and logs, left for the user
  CMember m_presenter;
  CMember m_viewers[2];
};

std::map<std::string, std::string> CShow::EnvOf(const CMember& m) const {
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

bool CShow::SetUp() {
  std::string sWhy;
  if (m_o.fLab && lab::Lab::Available(&sWhy)) {
    m_pLab = std::make_unique<lab::Lab>(3);
    if (!m_pLab->Ok()) {
      std::printf("the lab hosts could not be made (%s); running on this machine instead\n",
                  m_pLab->Error().c_str());
      m_pLab.reset();
    }
  } else if (m_o.fLab) {
    std::printf("%s\n", sWhy.c_str());
    std::printf("so presenter and viewers run as processes of this machine, on loopback\n");
  }
  char szWork[] = "/tmp/orvalo-show-work-XXXXXX";
  if (mkdtemp(szWork) == nullptr) return false;
  m_sWork = szWork;
  m_sOut = m_o.sOutDir;
  if (m_sOut.empty()) {
    char szOut[] = "/tmp/orvalo-show-XXXXXX";
    if (mkdtemp(szOut) == nullptr) return false;
    m_sOut = szOut;
  }
  std::filesystem::create_directories(m_sOut);

  m_presenter.sName = "presenter", m_presenter.sFile = "presenter", m_presenter.iHost = 0;
  m_viewers[0].sName = "viewer A", m_viewers[0].sFile = "viewer-a", m_viewers[0].iHost = 1;
  m_viewers[1].sName = "viewer B", m_viewers[1].sFile = "viewer-b", m_viewers[1].iHost = 2;
  for (CMember* m : {&m_presenter, &m_viewers[0], &m_viewers[1]}) {
    std::filesystem::create_directories(m_sWork + "/" + m->sFile + "/tmp");
    m->log.open(m_sOut + "/" + m->sFile + ".log");
    if (!Install(*m)) return false;
  }
  if (m_pLab && m_o.nLossPercent > 0) {
    char szProb[16];
    std::snprintf(szProb, sizeof szProb, "%.2f", m_o.nLossPercent / 100.0);
    for (CMember& v : m_viewers) {
      CShowProcess p;
      std::string sErr;
      if (!p.Start({"/usr/sbin/iptables", "-A", "INPUT", "-p", "udp", "-d", "239.192.77.0/24", "-m",
                    "statistic", "--mode", "random", "--probability", szProb, "-j", "DROP"},
                   {}, NamespaceOf(v), &sErr) ||
          !p.WaitEnded(10000) || p.ExitCode() != 0) {
        std::printf("could not add %d %% loss on %s's host (iptables): %s\n", m_o.nLossPercent,
                    v.sName.c_str(), sErr.c_str());
        return false;
      }
    }
  }
  return true;
}

// Installs Powerpnt into the member's own registry, as an installer would.
bool CShow::Install(CMember& m) {
  CShowProcess p;
  std::string sErr;
  if (!p.Start({m_o.sBinDir + "/Powerpnt", "--install"}, EnvOf(m), NamespaceOf(m), &sErr)) {
    std::printf("cannot run Powerpnt --install: %s\n", sErr.c_str());
    return false;
  }
  std::vector<std::string> lines;
  bool fEnded = p.WaitEnded(20000);
  p.ReadLines(&lines);
  if (!fEnded || p.ExitCode() != 0) {
    std::printf("Powerpnt --install failed for %s (exit %d)\n", m.sName.c_str(), p.ExitCode());
    for (const std::string& l : lines) std::printf("  %s\n", l.c_str());
    return false;
  }
  return true;
}

bool CShow::Launch(CMember& m, bool fPresenter) {
  std::vector<std::string> argv{m_o.sBinDir + "/orvalo", kMasterAddr, kMasterPort,
                                kLiveAddr,               kLivePort,   kTTL};
  if (fPresenter) argv.insert(argv.end(), {kRateKbps, m_o.sBinDir + "/Sample.ppt"});
  std::string sErr;
  if (!m.proc.Start(argv, EnvOf(m), NamespaceOf(m), &sErr)) {
    std::printf("cannot start the launcher for %s: %s\n", m.sName.c_str(), sErr.c_str());
    return false;
  }
  m.fStarted = true;
  return true;
}

void CShow::Pump(int nMs) {
  std::vector<CMember*> members;
  std::vector<pollfd> fds;
  for (CMember* m : {&m_presenter, &m_viewers[0], &m_viewers[1]}) {
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
      if (ApplyLine(l, &members[i]->view)) members[i]->tChanged = Clock::now();
    }
    members[i]->log.flush();
  }
}

bool CShow::WaitFor(const std::function<bool()>& done, unsigned dwTimeoutMs) {
  auto t0 = Clock::now();
  while (!done()) {
    if (MsSince(t0) >= static_cast<long>(dwTimeoutMs)) return false;
    Pump(20);
  }
  return true;
}

std::string CShow::ViewerCell(const CMember& v, int iStep, long nMs, bool fFollowed) const {
  char sz[64];
  if (!v.fStarted) return "not started yet";
  if (fFollowed) {
    std::snprintf(sz, sizeof sz, "same after %ld ms", nMs);
    return sz;
  }
  if (!v.fSynced) return "catching up: " + v.view.Describe();
  (void)iStep;
  return "DIFFERS: " + v.view.Describe();
}

int CShow::Run() {
  if (!SetUp()) return 2;
  std::printf("A presenter and two viewers, %s.\n",
              m_pLab ? "each on a host of its own (network namespaces on one bridge)"
                     : "as processes of this machine");
  std::printf("Slide master group %s:%s, live group %s:%s, TTL %s, %s kbit/s",
              kMasterAddr, kMasterPort, kLiveAddr, kLivePort, kTTL, kRateKbps);
  if (m_pLab && m_o.nLossPercent > 0) std::printf(", %d %% loss on every viewer", m_o.nLossPercent);
  std::printf(".\nViewer A joins before the show, viewer B after it began.\n\n");
  std::fflush(stdout);

  // Viewer A waits for the master, then the presenter starts the show.
  if (!Launch(m_viewers[0], false) || !Launch(m_presenter, true)) return 2;
  if (!WaitFor([&] { return !m_presenter.view.sTitle.empty(); }, 60000)) {
    std::printf("the presenter never showed a slide; see %s/presenter.log\n", m_sOut.c_str());
    return 1;
  }
  Say("presenter shows " + m_presenter.view.Describe());
  if (!WaitFor([&] { return m_viewers[0].view.SameAs(m_presenter.view); }, 90000)) {
    std::printf("viewer A never showed the first slide (it shows %s); see %s/viewer-a.log\n",
                m_viewers[0].view.Describe().c_str(), m_sOut.c_str());
  } else {
    m_viewers[0].fSynced = true, m_viewers[0].iSyncStep = 0;
    Say("viewer A follows: " + m_viewers[0].view.Describe());
  }

  std::vector<CShowStep> script = DefaultScript(m_o.fShort);
  Say("");
  Say("  #  presenter does           presenter shows                      viewer A                  "
      "        viewer B");
  for (size_t i = 0; i < script.size(); ++i) {
    const CShowStep& step = script[i];
    int iStep = static_cast<int>(i) + 1;
    auto tSend = Clock::now();
    CView before = m_presenter.view;
    m_presenter.proc.SendLine(step.sCommand);
    bool fPresenterMoved =
        WaitFor([&] { return !m_presenter.view.SameAs(before); }, 10000);
    Pump(50);  // let the rest of the presenter's change arrive
    long nFollowed[2] = {-1, -1};
    for (int v = 0; v < 2; ++v) {
      CMember& m = m_viewers[v];
      if (!m.fStarted) continue;
      unsigned dwLimit = m.fSynced ? m_o.dwStepTimeoutMs : 2000;
      if (WaitFor([&] { return m.view.SameAs(m_presenter.view); }, dwLimit)) {
        nFollowed[v] = std::max(0L, static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        m.tChanged - tSend).count()));
        if (!m.fSynced) m.fSynced = true, m.iSyncStep = iStep;
        if (nFollowed[v] > m.nSlowestMs) m.nSlowestMs = nFollowed[v], m.iSlowestStep = iStep;
      } else if (m.fSynced) {
        m.missed.push_back(iStep);
      }
    }
    char szLine[512];
    std::snprintf(szLine, sizeof szLine, "%3d  %-24s %-36s %-33s %s", iStep, step.sDoes.c_str(),
                  fPresenterMoved ? m_presenter.view.Describe().c_str() : "(no change)",
                  ViewerCell(m_viewers[0], iStep, nFollowed[0], nFollowed[0] >= 0).c_str(),
                  ViewerCell(m_viewers[1], iStep, nFollowed[1], nFollowed[1] >= 0).c_str());
    Say(szLine);
    if (step.fJoinLate && !Launch(m_viewers[1], false)) return 2;
    Pump(300);  // a person's pause between two actions
  }

  // The show has ended on the presenter; each viewer's show ends too.
  for (CMember& v : m_viewers) {
    if (v.fStarted && !WaitFor([&] { return v.view.fEnded; }, m_o.dwStepTimeoutMs)) {
      v.missed.push_back(static_cast<int>(script.size()));
    }
  }
  for (CMember* m : {&m_presenter, &m_viewers[0], &m_viewers[1]}) m->proc.SendLine("quit");
  WaitFor([&] {
    return m_presenter.proc.Ended() && m_viewers[0].proc.Ended() && m_viewers[1].proc.Ended();
  }, 20000);

  bool fAll = true;
  long nSlowest = -1;
  std::string sSlowest;
  for (CMember& v : m_viewers) {
    if (!v.fSynced || !v.missed.empty()) fAll = false;
    if (v.nSlowestMs > nSlowest) {
      nSlowest = v.nSlowestMs;
      sSlowest = v.sName + " at step " + std::to_string(v.iSlowestStep);
    }
  }
  std::printf("\n");
  for (CMember& v : m_viewers) {
    if (!v.fSynced) {
      std::printf("%s never showed what the presenter showed (last: %s)\n", v.sName.c_str(),
                  v.view.Describe().c_str());
    } else if (!v.missed.empty()) {
      std::string s;
      for (int k : v.missed) s += " " + std::to_string(k);
      std::printf("%s did not follow step(s)%s in time\n", v.sName.c_str(), s.c_str());
    } else if (v.iSyncStep > 0) {
      std::printf("%s joined late and followed from step %d on (slides shown before it joined are "
                  "not sent again, so it waited for the next slide sent)\n",
                  v.sName.c_str(), v.iSyncStep);
    }
  }
  std::printf("Pictures of each screen (SVG) and each program's output: %s\n", m_sOut.c_str());
  if (fAll) {
    std::printf("RESULT: every viewer followed the whole show; the slowest took %ld ms (%s).\n",
                nSlowest, sSlowest.c_str());
    return 0;
  }
  std::printf("RESULT: not every viewer followed the whole show.\n");
  return 1;
}

void CShow::Cleanup() {
  for (CMember* m : {&m_presenter, &m_viewers[0], &m_viewers[1]}) m->proc.Stop();
  m_pLab.reset();
  if (!m_sWork.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_sWork, ec);
    m_sWork.clear();
  }
}

}  // namespace

std::vector<CShowStep> DefaultScript(bool fShort) {
  std::vector<CShowStep> s = {
      {"next", "next", false},
      {"next", "next", true},
      {"next", "next", false},
      {"black", "black screen", false},
      {"resume", "back to the slide", false},
      {"pen 100,100 200,150 300,120 400,200", "pen stroke", false},
      {"next", "next", false},
      {"next", "next", false},
      {"white", "white screen", false},
      {"resume", "back to the slide", false},
      {"previous", "previous", false},
      {"next", "next", false},
      {"next", "next", false},
      {"pen 50,300 120,320 200,360", "pen stroke", false},
      {"erase", "erase the pen", false},
      {"goto 2", "go to slide 2", false},
      {"goto 5", "go to slide 5", false},
      {"next", "next", false},
      {"end", "end the show", false},
  };
  if (fShort) {
    s = {
        {"next", "next", false},
        {"next", "next", true},
        {"next", "next", false},
        {"black", "black screen", false},
        {"resume", "back to the slide", false},
        {"pen 100,100 200,150 300,120", "pen stroke", false},
        {"goto 4", "go to slide 4", false},
        {"next", "next", false},
        {"end", "end the show", false},
    };
  }
  return s;
}

int RunShow(const CShowOptions& options) {
  CShow s(options);
  return s.Run();
}

}  // namespace show
