// The multi-host test lab: several "hosts" on one machine, each a network
// namespace with one veth on a shared bridge, so that multicast sent by one
// host reaches the others as it would on a switched LAN.
//
// Layout of a lab with N hosts (all names unique per process and lab):
//   hub namespace   bridge "br0" (multicast snooping off: floods like a plain
//                   switch), one veth end "b<i>" per host as its port
//   host namespace  veth "eth0" with 10.99.0.<i+1>/24 and the route
//                   224.0.0.0/4; loopback up
// Only these namespaces and loopback carry the lab's traffic.
//
// Teardown: the destructor ends every process the lab started (by its id) and
// deletes its namespaces; so do SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGABRT
// and a normal exit. Namespaces of killed runs (same prefix, owner process
// gone) are deleted by the next lab that is made.
//
// Root is needed (CI runs as root). Without it the tests skip with a message.
//
// How a test uses it: the test re-invokes its own binary, filtered to the same
// test, inside a host namespace; the child sees a role and runs that branch.
//
//   TEST(KorinLabTest, ReceiverGetsEverything) {
//     if (lab::IsChild()) {                   // runs inside a host namespace
//       if (lab::ChildRole() == "sender") { ... send to lab::ChildParam("group") ... }
//       else { ... receive, EXPECT_...(...) ... }
//       return;                               // the child's gtest result is its exit code
//     }
//     ORVALO_LAB_START(theLab, 2);            // skips without root
//     auto rcv = theLab->StartSelf(0, "receiver", {{"group", "239.1.2.3"}});
//     auto snd = theLab->StartSelf(1, "sender", {{"group", "239.1.2.3"}});
//     lab::Result r = theLab->Wait(rcv, 20000), s = theLab->Wait(snd, 20000);
//     EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
//     EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
//   }
//
// Children are ordinary processes: to order them (receiver joined before the
// sender starts), use files in a directory both can see (MakeSyncDir,
// TouchFile, WaitForFile) and hand its path over as a parameter.
//
// Link the library `orvalo_lab` and give the test the label "lab".
// Not thread-safe: one thread per process drives its labs.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lab {

// The outcome of a process the lab ran.
struct Result {
  int nExitCode;        // exit status; 128 + signal if killed; -1 on time-out
  std::string sOutput;  // its standard output and error
};

// A started process; only the lab that started it can wait for it.
using ChildId = int;

class Lab {
 public:
  // True when labs can be made here; otherwise *psReason says why.
  static bool Available(std::string* psReason);

  // Makes the namespaces of a lab with nHosts hosts (1..200). Check Ok().
  explicit Lab(int nHosts);
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  bool Ok() const { return m_sError.empty(); }
  const std::string& Error() const { return m_sError; }

  int HostCount() const { return static_cast<int>(m_hosts.size()); }
  const std::string& HostNamespace(int iHost) const { return m_hosts.at(iHost); }
  // The host's dotted IPv4 address on the lab's LAN.
  std::string HostAddr(int iHost) const;

  // Runs argv inside the host's namespace, with `env` added to the
  // environment. Returns -1 if it cannot start.
  ChildId Start(int iHost, const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& env = {});
  // Runs this test binary, filtered to the running test, in the host's
  // namespace as a child with the role and parameters (see ChildParam).
  ChildId StartSelf(int iHost, const std::string& sRole,
                    const std::map<std::string, std::string>& params = {});
  // Waits up to dwTimeoutMs for the child to end (then kills it).
  Result Wait(ChildId id, unsigned dwTimeoutMs);
  // Start and Wait.
  Result Run(int iHost, const std::vector<std::string>& argv, unsigned dwTimeoutMs);

 private:
  struct Child;
  bool Exec(const std::vector<std::string>& argv);  // runs `ip` & co. in this namespace
  void Build(int nHosts);
  void TearDown();

  std::string m_sPrefix;
  std::string m_sHub;
  std::vector<std::string> m_hosts;
  std::vector<std::unique_ptr<Child>> m_children;
  std::string m_sError;
};

// In a child started by StartSelf: true, its role and its parameters.
bool IsChild();
std::string ChildRole();
std::string ChildParam(const std::string& sName);

// Sync helpers for parent and children (files, so across namespaces).
std::string MakeSyncDir();               // a fresh temporary directory
void TouchFile(const std::string& sPath);
bool WaitForFile(const std::string& sPath, unsigned dwTimeoutMs);
void RemoveTree(const std::string& sPath);

// This process's resident memory in KiB (0 when unknown).
long RssKb();

}  // namespace lab

// Declares `var` (std::unique_ptr<lab::Lab>) with nHosts hosts, skips the
// test when labs cannot run here and fails it if the lab cannot be made.
#define ORVALO_LAB_START(var, nHosts)                                   \
  std::unique_ptr<::lab::Lab> var;                                      \
  do {                                                                  \
    std::string sWhyNot_;                                               \
    if (!::lab::Lab::Available(&sWhyNot_)) GTEST_SKIP() << sWhyNot_;    \
  } while (0);                                                          \
  var = std::make_unique<::lab::Lab>(nHosts);                           \
  ASSERT_TRUE(var->Ok()) << var->Error()
