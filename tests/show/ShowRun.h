// A whole mirrored slide show: a presenter and viewers started through the
// launcher, on lab hosts (network namespaces) or as processes of this
// machine, a scripted show fed to the presenter's standard input, and for
// every step what each viewer shows beside what the presenter shows.
#pragma once

#include <string>
#include <vector>

namespace show {

struct CShowOptions {
  std::string sBinDir;         // the launcher, Powerpnt, the libraries and Sample.ppt
  std::string sOutDir;         // where the views' pictures are left ("" = a new folder)
  bool fLab = true;            // lab hosts when possible, else this machine
  int nLossPercent = 0;        // real loss on each viewer host's receive (lab only)
  bool fShort = false;         // a shorter script
  bool fQuiet = false;         // only the summary
  unsigned dwStepTimeoutMs = 20000;  // how long a viewer may take to follow one step
};

// One presenter command and what it shows.
struct CShowStep {
  std::string sCommand;      // a line for Powerpnt's standard input
  std::string sDoes;         // what it does, for people
  bool fJoinLate = false;    // start the late viewer after this step
};

std::vector<CShowStep> DefaultScript(bool fShort);

// Runs the show; prints as it goes and ends with one summary line. Returns
// the process exit code: 0 when every viewer followed the whole show.
int RunShow(const CShowOptions& options);

}  // namespace show
