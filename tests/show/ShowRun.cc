#include "tests/show/ShowRun.h"

#include <algorithm>
#include <cstdio>

#include "tests/show/ShowCast.h"

namespace show {
namespace {

// How one viewer fared.
struct CFollow {
  bool fSynced = false;     // has shown what the presenter shows at least once
  int iSyncStep = -1;       // the step at which it first did
  std::vector<int> missed;  // steps after that it did not follow in time
  long nSlowestMs = -1;
  int iSlowestStep = -1;
};

std::string Cell(const CMember& v, const CFollow& f, long nMs) {
  if (!v.fStarted) return "not started yet";
  if (nMs >= 0) return "same after " + std::to_string(nMs) + " ms";
  if (!f.fSynced) return "catching up: " + v.view.Describe();
  return "DIFFERS: " + v.view.Describe();
}

}  // namespace

int RunShow(const CShowOptions& o) {
  CCastOptions co;
  co.sBinDir = o.sBinDir;
  co.sOutDir = o.sOutDir;
  co.fLab = o.fLab;
  co.nViewers = 2;
  co.nLossPercent = o.nLossPercent;
  CCast cast(co);
  if (!cast.SetUp()) return 2;
  auto say = [&](const std::string& s) {
    if (!o.fQuiet) std::printf("%s\n", s.c_str()), std::fflush(stdout);
  };
  CMember& pres = cast.Presenter();
  CMember* viewers[2] = {&cast.Viewer(0), &cast.Viewer(1)};
  CFollow follow[2];

  std::printf("A presenter and two viewers, %s.\n",
              cast.OnLab() ? "each on a host of its own (network namespaces on one bridge)"
                           : "as processes of this machine");
  std::printf("Slide master group %s:%s, live group %s:%s, TTL %s, %s kbit/s", CCast::kMasterAddr,
              CCast::kMasterPort, CCast::kLiveAddr, CCast::kLivePort, CCast::kTTL,
              co.sRateKbps.c_str());
  if (cast.OnLab() && o.nLossPercent > 0) {
    std::printf(", %d %% of datagrams lost on the way to each viewer", o.nLossPercent);
  }
  std::printf(".\nViewer A joins before the show, viewer B after it began.\n\n");
  std::fflush(stdout);

  // Viewer A waits for the master; then the presenter starts the show.
  if (!cast.LaunchViewer(*viewers[0]) || !cast.LaunchPresenter(o.sBinDir + "/Sample.ppt")) return 2;
  if (!cast.WaitFor([&] { return !pres.view.sTitle.empty(); }, 60000)) {
    std::printf("The presenter never showed a slide; see %s/presenter.log\n", cast.OutDir().c_str());
    std::printf("RESULT: the show did not start.\n");
    return 1;
  }
  say("The presenter shows " + pres.view.Describe() + ".");
  if (cast.WaitFor([&] { return viewers[0]->view.SameAs(pres.view); }, 90000)) {
    follow[0].fSynced = true, follow[0].iSyncStep = 0;
    say("Viewer A received the slide master and shows the same.");
  } else {
    std::printf("Viewer A never showed the first slide (it shows %s); see %s/viewer-a.log\n",
                viewers[0]->view.Describe().c_str(), cast.OutDir().c_str());
  }

  std::vector<CShowStep> script = DefaultScript(o.fShort);
  say("");
  char szHead[256];
  std::snprintf(szHead, sizeof szHead, "%3s  %-20s %-38s %-30s %s", "#", "presenter does",
                "presenter shows", "viewer A", "viewer B");
  say(szHead);
  for (size_t i = 0; i < script.size(); ++i) {
    const CShowStep& step = script[i];
    int iStep = static_cast<int>(i) + 1;
    auto tSend = Clock::now();
    CView before = pres.view;
    pres.proc.SendLine(step.sCommand);
    bool fMoved = cast.WaitFor([&] { return !pres.view.SameAs(before); }, 10000);
    cast.Pump(50);  // the rest of the presenter's change
    long nMs[2] = {-1, -1};
    for (int v = 0; v < 2; ++v) {
      CMember& m = *viewers[v];
      CFollow& f = follow[v];
      if (!m.fStarted) continue;
      unsigned dwLimit = f.fSynced ? o.dwStepTimeoutMs : 3000;
      if (cast.WaitFor([&] { return m.view.SameAs(pres.view); }, dwLimit)) {
        nMs[v] = std::max(0L, MsBetween(tSend, m.tChanged));
        if (!f.fSynced) f.fSynced = true, f.iSyncStep = iStep;
        if (nMs[v] > f.nSlowestMs) f.nSlowestMs = nMs[v], f.iSlowestStep = iStep;
      } else if (f.fSynced) {
        f.missed.push_back(iStep);
      }
    }
    char szLine[512];
    std::snprintf(szLine, sizeof szLine, "%3d  %-20s %-38s %-30s %s", iStep, step.sDoes.c_str(),
                  fMoved ? pres.view.Describe().c_str() : "(no change)",
                  Cell(*viewers[0], follow[0], nMs[0]).c_str(),
                  Cell(*viewers[1], follow[1], nMs[1]).c_str());
    say(szLine);
    if (step.fJoinLate) {
      // Viewer B starts now; the show goes on once it listens (its waiting notice).
      if (!cast.LaunchViewer(*viewers[1])) return 2;
      if (!cast.WaitFor([&] { return viewers[1]->Printed("Receiving slide data"); }, 90000)) {
        say("    viewer B has not joined the live stream after 90 s; the show goes on");
      } else {
        say("    viewer B received the slide master and listens to the live stream");
      }
    }
    cast.Pump(300);  // a person's pause between two actions
  }
  cast.QuitAll(20000);

  bool fAll = true;
  long nSlowest = -1;
  std::string sSlowest;
  std::printf("\n");
  for (int v = 0; v < 2; ++v) {
    const CFollow& f = follow[v];
    const std::string& sName = viewers[v]->sName;
    if (!f.fSynced || !f.missed.empty()) fAll = false;
    if (f.nSlowestMs > nSlowest) {
      nSlowest = f.nSlowestMs;
      sSlowest = sName + " at step " + std::to_string(f.iSlowestStep);
    }
    if (!f.fSynced) {
      std::printf("%s never showed what the presenter showed (last: %s).\n", sName.c_str(),
                  viewers[v]->view.Describe().c_str());
    } else if (!f.missed.empty()) {
      std::string s;
      for (int k : f.missed) s += " " + std::to_string(k);
      std::printf("%s did not follow step(s)%s in time.\n", sName.c_str(), s.c_str());
    } else if (f.iSyncStep > 0) {
      std::printf("%s joined late and followed from step %d on: slides shown before it joined are "
                  "not sent again, so it waited for the next slide sent.\n",
                  sName.c_str(), f.iSyncStep);
    }
  }
  std::printf("Pictures of each screen (SVG) and what each program printed: %s\n",
              cast.OutDir().c_str());
  if (fAll) {
    std::printf("RESULT: every viewer followed the whole show; the slowest took %ld ms (%s).\n",
                nSlowest, sSlowest.c_str());
    return 0;
  }
  std::printf("RESULT: not every viewer followed the whole show.\n");
  return 1;
}

// For the sample presentation: slide 1 has no animation steps, slide 2 has
// three, slide 3 two, slides 4 and 5 none.
std::vector<CShowStep> DefaultScript(bool fShort) {
  if (fShort) {
    return {
        {"black", "black screen", true},
        {"resume", "back to the slide", false},
        {"next", "next", false},
        {"next", "next", false},
        {"pen 100,100 200,150 300,120", "pen stroke", false},
        {"next", "next", false},
        {"next", "next", false},
        {"next", "next", false},
        {"white", "white screen", false},
        {"resume", "back to the slide", false},
        {"goto 4", "go to slide 4", false},
        {"end", "end the show", false},
    };
  }
  return {
      {"black", "black screen", true},
      {"resume", "back to the slide", false},
      {"next", "next", false},
      {"next", "next", false},
      {"next", "next", false},
      {"pen 100,100 200,150 300,120 400,200", "pen stroke", false},
      {"next", "next", false},
      {"next", "next", false},
      {"white", "white screen", false},
      {"resume", "back to the slide", false},
      {"next", "next", false},
      {"previous", "previous", false},
      {"next", "next", false},
      {"next", "next", false},
      {"next", "next", false},
      {"pen 50,300 120,320 200,360", "pen stroke", false},
      {"erase", "erase the pen", false},
      {"goto 2", "go to slide 2", false},
      {"next", "next", false},
      {"goto 5", "go to slide 5", false},
      {"end", "end the show", false},
  };
}

}  // namespace show
