// The cast of a mirrored show: one presenter and a few viewers, each a
// Powerpnt started through the launcher with a registry and temporary folder
// of its own, on a lab host of its own (network namespaces) when the lab can
// be made here, else as processes of this machine on loopback. Reads what
// each prints and keeps what each one's slide-show window shows.
//
// Not thread-safe: one thread drives a cast.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/lab/Lab.h"
#include "tests/show/ShowProcess.h"
#include "tests/show/ShowView.h"

namespace show {

using Clock = std::chrono::steady_clock;

struct CCastOptions {
  std::string sBinDir;        // the launcher, Powerpnt and the libraries
  std::string sOutDir;        // pictures and logs ("" = a new folder)
  bool fLab = true;           // lab hosts when possible
  int nViewers = 2;
  int nLossPercent = 0;       // real loss on each viewer host's receive (lab only)
  std::string sRateKbps = "8000";
};

// One Powerpnt of the cast.
struct CMember {
  std::string sName;  // "presenter", "viewer A"
  std::string sFile;  // "presenter", "viewer-a": its files' names
  int iHost = 0;
  CShowProcess proc;
  CView view;
  Clock::time_point tChanged;  // when view last changed
  bool fStarted = false;
  std::ofstream log;  // everything it printed
  std::vector<std::string> printed;  // the same, line by line

  // Whether it has printed a line containing `s`.
  bool Printed(const std::string& s) const;
};

class CCast {
 public:
  explicit CCast(CCastOptions options);
  ~CCast();  // ends every process, removes the lab and the work folder
  CCast(const CCast&) = delete;
  CCast& operator=(const CCast&) = delete;

  // Makes the hosts and the folders and installs Powerpnt for everyone.
  // False after printing why.
  bool SetUp();
  bool OnLab() const { return m_pLab != nullptr; }
  const std::string& OutDir() const { return m_sOut; }

  CMember& Presenter() { return m_presenter; }
  CMember& Viewer(int i) { return *m_viewers.at(static_cast<size_t>(i)); }
  int ViewerCount() const { return static_cast<int>(m_viewers.size()); }

  // Starts the member's launcher: a viewer, or the presenter of sPresentation.
  bool LaunchViewer(CMember& m);
  bool LaunchPresenter(const std::string& sPresentation);

  // Reads whatever the members print for up to nMs.
  void Pump(int nMs);
  bool WaitFor(const std::function<bool()>& done, unsigned dwTimeoutMs);
  // Asks every Powerpnt to quit and waits for the launchers to end.
  void QuitAll(unsigned dwTimeoutMs);

  static constexpr const char* kMasterAddr = "239.192.77.1";
  static constexpr const char* kMasterPort = "5150";
  static constexpr const char* kLiveAddr = "239.192.77.2";
  static constexpr const char* kLivePort = "5152";
  static constexpr const char* kTTL = "1";

 private:
  std::vector<CMember*> All();
  std::string NamespaceOf(const CMember& m) const;
  std::map<std::string, std::string> EnvOf(const CMember& m) const;
  bool Install(CMember& m);
  bool AddLoss(CMember& m);
  bool Launch(CMember& m, const std::vector<std::string>& args);

  CCastOptions m_o;
  std::unique_ptr<lab::Lab> m_pLab;
  std::string m_sWork;  // registries and temporary folders, removed at the end
  std::string m_sOut;   // pictures and logs, left for the user
  CMember m_presenter;
  std::vector<std::unique_ptr<CMember>> m_viewers;
};

long MsSince(Clock::time_point t);
long MsBetween(Clock::time_point a, Clock::time_point b);

// The folder of the running program ("." when it cannot be read).
std::string OwnFolder();

}  // namespace show
