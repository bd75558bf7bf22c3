#include "tests/lab/Lab.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/lab/LabCleanup.h"

extern char** environ;

namespace lab {
namespace {

constexpr const char* kPrefix = "orvlab";
constexpr int kMaxHosts = 60;

std::string TempDir() {
  const char* sz = getenv("TMPDIR");
  return (sz != nullptr && *sz != '\0') ? sz : "/tmp";
}

// Owned argv/envp arrays for execve, built before fork.
struct ExecArgs {
  std::vector<std::string> strings;
  std::vector<char*> ptrs;
  explicit ExecArgs(std::vector<std::string> s) : strings(std::move(s)) {
    for (std::string& x : strings) ptrs.push_back(x.data());
    ptrs.push_back(nullptr);
  }
  char** get() { return ptrs.data(); }
};

std::vector<std::string> EnvironWith(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** p = environ; *p != nullptr; ++p) {
    std::string s(*p);
    std::string key = s.substr(0, s.find('='));
    if (extra.find(key) == extra.end()) env.push_back(s);
  }
  for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
  return env;
}

// Forks and execs argv[0] (a path) with its output into fdOut; -1 on failure.
pid_t Spawn(ExecArgs& argv, ExecArgs& envp, int fdOut) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (fdOut >= 0) {
      dup2(fdOut, 1);
      dup2(fdOut, 2);
    }
    execve(argv.get()[0], argv.get(), envp.get());
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);
  return pid;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::string ReadFile(const std::string& sPath) {
  std::ifstream in(sPath, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string CurrentTestFilter() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "*";
  return std::string(info->test_suite_name()) + "." + info->name();
}

std::string SelfExe() {
  char sz[4096];
  ssize_t n = readlink("/proc/self/exe", sz, sizeof sz - 1);
  if (n <= 0) return {};
  return std::string(sz, static_cast<size_t>(n));
}

}  // namespace

struct Lab::Child {
  pid_t pid;
  std::string sOutPath;
  bool fDone;
  Result result;
};

bool Lab::Available(std::string* psReason) {
  if (geteuid() != 0) {
    *psReason = "the multi-host lab needs root to create network namespaces (running as uid " +
                std::to_string(geteuid()) + "); skipped";
    return false;
  }
  if (cleanup::IpPath() == nullptr) {
    *psReason = "the multi-host lab needs the 'ip' program (iproute2), which was not found; skipped";
    return false;
  }
  if (access("/proc/self/ns/net", F_OK) != 0) {
    *psReason = "this kernel offers no network namespaces; skipped";
    return false;
  }
  return true;
}

Lab::Lab(int nHosts) {
  std::string sWhyNot;
  if (!Available(&sWhyNot)) {
    m_sError = sWhyNot;
    return;
  }
  if (nHosts < 1 || nHosts > kMaxHosts) {
    m_sError = "a lab has 1.." + std::to_string(kMaxHosts) + " hosts";
    return;
  }
  cleanup::InstallOnce();
  cleanup::RemoveStale(kPrefix);
  static int s_nLabs = 0;
  m_sPrefix = std::string(kPrefix) + std::to_string(getpid()) + "x" + std::to_string(++s_nLabs) + "_";
  Build(nHosts);
}

Lab::~Lab() { TearDown(); }

std::string Lab::HostAddr(int iHost) const { return "10.99.0." + std::to_string(iHost + 1); }

bool Lab::Exec(const std::vector<std::string>& args) {
  std::vector<std::string> full{cleanup::IpPath()};
  full.insert(full.end(), args.begin(), args.end());
  std::string sOut = TempDir() + "/orvlab_ip_XXXXXX";
  int fd = mkstemp(sOut.data());
  ExecArgs argv(full), envp(EnvironWith({}));
  pid_t pid = Spawn(argv, envp, fd);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  if (fd >= 0) close(fd);
  std::string sText = fd >= 0 ? ReadFile(sOut) : "";
  if (fd >= 0) unlink(sOut.c_str());
  if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::string sCmd = "ip";
  for (const std::string& a : args) sCmd += " " + a;
  m_sError = "lab set-up failed: " + sCmd + ": " + sText;
  return false;
}

void Lab::Build(int nHosts) {
  m_sHub = m_sPrefix + "hub";
  cleanup::AddNamespace(m_sHub);
  if (!Exec({"netns", "add", m_sHub}) || !Exec({"-n", m_sHub, "link", "set", "lo", "up"}) ||
      !Exec({"-n", m_sHub, "link", "add", "br0", "type", "bridge", "mcast_snooping", "0"}) ||
      !Exec({"-n", m_sHub, "link", "set", "br0", "up"})) {
    return;
  }
  for (int i = 0; i < nHosts; ++i) {
    std::string sHost = m_sPrefix + "h" + std::to_string(i);
    std::string sPort = "b" + std::to_string(i);
    m_hosts.push_back(sHost);
    cleanup::AddNamespace(sHost);
    if (!Exec({"netns", "add", sHost}) ||
        !Exec({"-n", m_sHub, "link", "add", sPort, "type", "veth", "peer", "name", "eth0", "netns", sHost}) ||
        !Exec({"-n", m_sHub, "link", "set", sPort, "master", "br0"}) ||
        !Exec({"-n", m_sHub, "link", "set", sPort, "up"}) ||
        !Exec({"-n", sHost, "link", "set", "lo", "up"}) ||
        !Exec({"-n", sHost, "addr", "add", HostAddr(i) + "/24", "dev", "eth0"}) ||
        !Exec({"-n", sHost, "link", "set", "eth0", "up"}) ||
        !Exec({"-n", sHost, "route", "add", "224.0.0.0/4", "dev", "eth0"})) {
      return;
    }
  }
}

void Lab::TearDown() {
  for (const std::unique_ptr<Child>& c : m_children) {
    if (!c->fDone) {
      kill(-c->pid, SIGKILL);
      waitpid(c->pid, nullptr, 0);
      cleanup::RemoveChild(c->pid);
      unlink(c->sOutPath.c_str());
      c->fDone = true;
    }
  }
  for (const std::string& sHost : m_hosts) cleanup::DeleteNamespace(sHost);
  if (!m_sHub.empty()) cleanup::DeleteNamespace(m_sHub);
  m_hosts.clear();
  m_sHub.clear();
}

ChildId Lab::Start(int iHost, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env) {
  if (!Ok() || iHost < 0 || iHost >= HostCount() || args.empty()) return -1;
  std::vector<std::string> full{cleanup::IpPath(), "netns", "exec", m_hosts[iHost]};
  full.insert(full.end(), args.begin(), args.end());
  auto child = std::make_unique<Child>();
  child->sOutPath = TempDir() + "/orvlab_out_XXXXXX";
  int fd = mkstemp(child->sOutPath.data());
  if (fd < 0) return -1;
  ExecArgs argv(full), envp(EnvironWith(env));
  child->pid = Spawn(argv, envp, fd);
  close(fd);
  if (child->pid < 0) {
    unlink(child->sOutPath.c_str());
    return -1;
  }
  cleanup::AddChild(child->pid);
  child->fDone = false;
  child->result = {-1, {}};
  m_children.push_back(std::move(child));
  return static_cast<ChildId>(m_children.size() - 1);
}

ChildId Lab::StartSelf(int iHost, const std::string& sRole, const std::map<std::string, std::string>& params) {
  std::map<std::string, std::string> env{{"ORVALO_LAB_ROLE", sRole}};
  for (const auto& [k, v] : params) env["ORVALO_LAB_P_" + k] = v;
  return Start(iHost, {SelfExe(), "--gtest_filter=" + CurrentTestFilter()}, env);
}

Result Lab::Wait(ChildId id, unsigned dwTimeoutMs) {
  if (id < 0 || id >= static_cast<ChildId>(m_children.size())) return {-1, "no such child"};
  Child& c = *m_children[id];
  if (c.fDone) return c.result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeoutMs);
  int status = 0;
  bool fEnded = false;
  while (!fEnded) {
    pid_t r = waitpid(c.pid, &status, WNOHANG);
    if (r == c.pid || (r < 0 && errno != EINTR)) {
      fEnded = r == c.pid;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!fEnded) {
    kill(-c.pid, SIGKILL);
    waitpid(c.pid, nullptr, 0);
  }
  kill(-c.pid, SIGKILL);  // anything it left running in its group
  cleanup::RemoveChild(c.pid);
  c.result.nExitCode = fEnded ? ExitCodeOf(status) : -1;
  c.result.sOutput = ReadFile(c.sOutPath);
  if (!fEnded) c.result.sOutput += "\n[lab: timed out after " + std::to_string(dwTimeoutMs) + " ms, killed]\n";
  unlink(c.sOutPath.c_str());
  c.fDone = true;
  return c.result;
}

Result Lab::Run(int iHost, const std::vector<std::string>& argv, unsigned dwTimeoutMs) {
  ChildId id = Start(iHost, argv);
  if (id < 0) return {-1, "could not start"};
  return Wait(id, dwTimeoutMs);
}

bool IsChild() { return !ChildRole().empty(); }

std::string ChildRole() {
  const char* sz = getenv("ORVALO_LAB_ROLE");
  return sz != nullptr ? sz : "";
}

std::string ChildParam(const std::string& sName) {
  const char* sz = getenv(("ORVALO_LAB_P_" + sName).c_str());
  return sz != nullptr ? sz : "";
}

std::string MakeSyncDir() {
  std::string s = TempDir() + "/orvlab_sync_XXXXXX";
  if (mkdtemp(s.data()) == nullptr) return {};
  return s;
}

void TouchFile(const std::string& sPath) {
  int fd = open(sPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

bool WaitForFile(const std::string& sPath, unsigned dwTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeoutMs);
  while (access(sPath.c_str(), F_OK) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void RemoveTree(const std::string& sPath) {
  std::error_code ec;
  std::filesystem::remove_all(sPath, ec);
}

long RssKb() {
  std::FILE* pFile = std::fopen("/proc/self/status", "r");
  if (pFile == nullptr) return 0;
  char szLine[256];
  long lKb = 0;
  while (std::fgets(szLine, sizeof szLine, pFile) != nullptr) {
    if (std::sscanf(szLine, "VmRSS: %ld kB", &lKb) == 1) break;
  }
  std::fclose(pFile);
  return lKb;
}

}  // namespace lab
