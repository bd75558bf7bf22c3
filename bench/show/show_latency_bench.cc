// The latency from a presenter's command to a viewer's screen changing, across
// lab hosts: screen-state changes, and slides whose files are about 10 KiB
// and 1 MiB, each without loss and with 10 percent loss on the viewer's host.
//
//   show_latency_bench [--local] [--loss PERCENT] [--rounds N]
//
// N black/resume pairs (100) measure the state changes.
//
// Prints the median and 99th percentile of each case. Needs root for the lab
// hosts; otherwise (or with --local) the processes share this machine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "host/PresentationFile.h"
#include "tests/show/ShowCast.h"

namespace {

// Slides 1..120 have files of about 10 KiB; from 121 on every third slide's
// file is about 1 MiB. A viewer shows a slide at once when it has it, so each
// measured jump goes to a slide never sent before: every third one, since a
// jump to slide k also sends slide k + 1 ahead.
constexpr int kSmallSlides = 120;
constexpr int kLargeJumps = 10;
constexpr int kTotalSlides = kSmallSlides + 3 * kLargeJumps;
bool IsLarge(int nSlide) { return nSlide > kSmallSlides && (nSlide - kSmallSlides) % 3 == 1; }

// Text that compresses little, so that a slide's cabinet is about its size.
std::string Noise(size_t n, std::mt19937* pRng) {
  static const char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:-+*/=()";
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string s(n, ' ');
  for (char& c : s) c = kAlphabet[pick(*pRng)];
  return s;
}

bool WriteBenchPresentation(const std::string& sPath) {
  std::mt19937 rng(7);
  host::PresentationContent p;
  for (int i = 1; i <= kTotalSlides; ++i) {
    host::SlideContent s;
    s.title = "Slide " + std::to_string(i);
    // 6.2 bits of entropy a character: the cabinet is about 0.78 of the text.
    s.body = Noise(IsLarge(i) ? 1340 * 1024 : 13 * 1024, &rng);
    p.slides.push_back(s);
  }
  return host::WritePresentationFile(sPath, p) == 0;
}

struct CCase {
  std::string sName;
  std::vector<long> ms;
};

long Percentile(std::vector<long> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// One command to the presenter; the milliseconds until the viewer shows the
// same, or -1 after dwTimeoutMs.
long Measure(show::CCast& cast, const std::string& sCommand, unsigned dwTimeoutMs) {
  show::CMember& pres = cast.Presenter();
  show::CMember& view = cast.Viewer(0);
  show::CView before = pres.view;
  auto t0 = show::Clock::now();
  pres.proc.SendLine(sCommand);
  if (!cast.WaitFor([&] { return !pres.view.SameAs(before); }, 10000)) return -1;
  if (!cast.WaitFor([&] { return view.view.SameAs(pres.view); }, dwTimeoutMs)) return -1;
  return std::max(0L, show::MsBetween(t0, view.tChanged));
}

int RunCases(const std::string& sBin, bool fLab, int nLoss, int nStateRounds) {
  show::CCastOptions o;
  o.sBinDir = sBin;
  o.fLab = fLab;
  o.nViewers = 1;
  o.nLossPercent = nLoss;
  o.sRateKbps = "40000";
  show::CCast cast(o);
  if (!cast.SetUp()) return 2;
  std::string sPres = cast.OutDir() + "/latency.ppt";
  if (!WriteBenchPresentation(sPres)) {
    std::printf("cannot write %s\n", sPres.c_str());
    return 2;
  }
  if (!cast.LaunchViewer(cast.Viewer(0)) || !cast.LaunchPresenter(sPres)) return 2;
  show::CMember& pres = cast.Presenter();
  if (!cast.WaitFor([&] { return !pres.view.sTitle.empty(); }, 60000) ||
      !cast.WaitFor([&] { return cast.Viewer(0).view.SameAs(pres.view); }, 90000)) {
    std::printf("the show did not start on both hosts; see %s\n", cast.OutDir().c_str());
    return 1;
  }
  CCase cases[3] = {{"state change", {}}, {"slide of 10 KiB", {}}, {"slide of 1 MiB", {}}};
  int nLost = 0;
  auto add = [&](CCase& c, long ms) {
    if (ms < 0) ++nLost;
    else c.ms.push_back(ms);
  };
  for (int r = 0; r < nStateRounds; ++r) {
    add(cases[0], Measure(cast, "black", 10000));
    add(cases[0], Measure(cast, "resume", 10000));
  }
  for (int k = 3; k < kSmallSlides; k += 3) {
    add(cases[1], Measure(cast, "goto " + std::to_string(k), 20000));
  }
  for (int k = kSmallSlides + 1; k <= kTotalSlides; k += 3) {
    add(cases[2], Measure(cast, "goto " + std::to_string(k), 60000));
  }
  pres.proc.SendLine("end");
  cast.Pump(3000);
  cast.QuitAll(20000);
  std::printf("%s, %d %% loss on the viewer's host:\n", cast.OnLab() ? "lab hosts" : "this machine",
              nLoss);
  for (const CCase& c : cases) {
    std::printf("  %-16s n=%-4zu median %6ld ms   p99 %6ld ms\n", c.sName.c_str(), c.ms.size(),
                Percentile(c.ms, 0.5), Percentile(c.ms, 0.99));
  }
  if (nLost > 0) std::printf("  %d command(s) never reached the viewer in time\n", nLost);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool fLab = true;
  int nLoss = -1, nRounds = 100;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--local") fLab = false;
    else if (a == "--loss" && i + 1 < argc) nLoss = std::atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc) nRounds = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: show_latency_bench [--local] [--loss PERCENT] [--rounds N]\n");
      return 2;
    }
  }
  int rc = 0;
  for (int loss : nLoss >= 0 ? std::vector<int>{nLoss} : std::vector<int>{0, 10}) {
    rc = std::max(rc, RunCases(show::OwnFolder(), fLab, loss, nRounds));
  }
  return rc;
}
