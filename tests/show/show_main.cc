// orvalo_show: the slide show mirrored from a presenter to two viewers, from
// one command. See --help.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/lab/Lab.h"
#include "tests/show/ShowCast.h"
#include "tests/show/ShowRun.h"

namespace {

void Usage() {
  std::printf(
      "usage: orvalo_show [--local] [--loss PERCENT] [--short] [--quiet] [--out DIR]\n"
      "  Starts a presenter with the sample presentation and two viewers through the\n"
      "  launcher (one viewer joins after the show began), plays a scripted show on\n"
      "  the presenter and shows step by step what each viewer shows beside it.\n"
      "  --local         processes of this machine on loopback, even as root\n"
      "  --loss PERCENT  real packet loss on each viewer's host (lab hosts only)\n"
      "  --short         a shorter show\n"
      "  --quiet         only the summary\n"
      "  --out DIR       where the pictures (SVG) and logs are left\n"
      "  --require-lab   exit with 77 (skipped) where lab hosts cannot be made\n");
}

}  // namespace

int main(int argc, char** argv) {
  show::CShowOptions o;
  o.sBinDir = show::OwnFolder();
  bool fRequireLab = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--local") {
      o.fLab = false;
    } else if (a == "--short") {
      o.fShort = true;
    } else if (a == "--quiet") {
      o.fQuiet = true;
    } else if (a == "--require-lab") {
      fRequireLab = true;
    } else if ((a == "--loss" || a == "--out") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "--out") {
        o.sOutDir = v;
        continue;
      }
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || n < 0 || n > 90) {
        std::fprintf(stderr, "orvalo_show: --loss takes a percentage from 0 to 90, not '%s'\n",
                     v.c_str());
        return 2;
      }
      o.nLossPercent = static_cast<int>(n);
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "orvalo_show: unknown argument '%s'\n", a.c_str());
      Usage();
      return 2;
    }
  }
  // Under loss a slide waits for the protocol's NACK timers: a first NACK
  // within 4.5 s, each later one up to twice, four and then eight times as
  // late, and no repair of a datagram sent less than 4.4 s before. Two
  // repairs lost in a row already take a slide past 30 s.
  if (o.nLossPercent > 0) o.dwStepTimeoutMs = 120000;
  std::string sMissing;
  for (const char* sz : {"orvalo", "Powerpnt", "Pelago.so", "orvalo.so", "orvaloPres.ppa",
                         "orvaloView.ppa", "Sample.ppt"}) {
    if (access((o.sBinDir + "/" + sz).c_str(), R_OK) != 0) sMissing += std::string(" ") + sz;
  }
  if (!sMissing.empty()) {
    std::printf("orvalo_show: not built yet in %s:%s\n", o.sBinDir.c_str(), sMissing.c_str());
    return 77;  // skipped
  }
  std::string sWhyNot;
  if (fRequireLab && !lab::Lab::Available(&sWhyNot)) {
    std::printf("%s\n", sWhyNot.c_str());
    return 77;  // skipped
  }
  if (o.nLossPercent > 0 && !lab::Lab::Available(&sWhyNot)) {
    std::printf("real loss needs the lab hosts: %s\n", sWhyNot.c_str());
  }
  return show::RunShow(o);
}
