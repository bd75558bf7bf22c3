#include "tests/lab/LabCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace lab::cleanup {
namespace {

constexpr const char* kNetnsDir = "/var/run/netns";
constexpr int kSlots = 256;
constexpr size_t kNameLen = 64;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};

// Written by the driving thread, read by signal handlers: a slot's name is
// complete before its flag is set and the flag is cleared before reuse.
struct NamespaceSlot {
  volatile sig_atomic_t fUsed;
  char szName[kNameLen];
};
NamespaceSlot g_namespaces[kSlots];
volatile pid_t g_children[kSlots];
char g_szIp[64];
struct sigaction g_oldActions[NSIG];

void CopyName(char* pDest, const char* szSource, size_t nSize) {
  size_t n = strnlen(szSource, nSize - 1);
  memcpy(pDest, szSource, n);
  pDest[n] = '\0';
}

// Async-signal-safe: fork, execve, waitpid only.
void RunIpNetnsDel(const char* szName) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    char szNetns[] = "netns", szDel[] = "del";
    char* argv[] = {g_szIp, szNetns, szDel, const_cast<char*>(szName), nullptr};
    execve(g_szIp, argv, environ);
    _exit(127);
  }
  if (pid > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

// Async-signal-safe.
void CleanUpEverything() {
  for (int i = 0; i < kSlots; ++i) {
    pid_t pid = g_children[i];
    if (pid > 0) {
      kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      g_children[i] = 0;
    }
  }
  for (int i = 0; i < kSlots; ++i) {
    if (g_namespaces[i].fUsed) {
      RunIpNetnsDel(g_namespaces[i].szName);
      g_namespaces[i].fUsed = 0;
    }
  }
}

void OnSignal(int nSignal) {
  int nSavedErrno = errno;
  CleanUpEverything();
  sigaction(nSignal, &g_oldActions[nSignal], nullptr);
  errno = nSavedErrno;
  raise(nSignal);  // delivered with the previous disposition once this returns
}

void OnExit() { CleanUpEverything(); }

}  // namespace

const char* IpPath() {
  if (g_szIp[0] == '\0') {
    for (const char* sz : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
      if (access(sz, X_OK) == 0) {
        CopyName(g_szIp, sz, sizeof g_szIp);
        break;
      }
    }
  }
  return g_szIp[0] != '\0' ? g_szIp : nullptr;
}

void InstallOnce() {
  static bool s_fInstalled = false;
  if (s_fInstalled) return;
  s_fInstalled = true;
  IpPath();
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int nSignal : kSignals) sigaction(nSignal, &sa, &g_oldActions[nSignal]);
  atexit(OnExit);
}

void AddNamespace(const std::string& sName) {
  for (NamespaceSlot& slot : g_namespaces) {
    if (!slot.fUsed) {
      CopyName(slot.szName, sName.c_str(), kNameLen);
      slot.fUsed = 1;
      return;
    }
  }
}

void DeleteNamespace(const std::string& sName) {
  RunIpNetnsDel(sName.c_str());
  for (NamespaceSlot& slot : g_namespaces) {
    if (slot.fUsed && sName == slot.szName) slot.fUsed = 0;
  }
}

void AddChild(pid_t pid) {
  for (volatile pid_t& p : g_children) {
    if (p == 0) {
      p = pid;
      return;
    }
  }
}

void RemoveChild(pid_t pid) {
  for (volatile pid_t& p : g_children) {
    if (p == pid) p = 0;
  }
}

void RemoveStale(const char* szPrefix) {
  DIR* dir = opendir(kNetnsDir);
  if (dir == nullptr) return;
  size_t nPrefix = strlen(szPrefix);
  char aszStale[kSlots][kNameLen];
  int nStale = 0;
  while (dirent* e = readdir(dir)) {
    if (strncmp(e->d_name, szPrefix, nPrefix) != 0 || nStale == kSlots || strlen(e->d_name) >= kNameLen) continue;
    char* pEnd = nullptr;
    long lPid = strtol(e->d_name + nPrefix, &pEnd, 10);
    if (pEnd == e->d_name + nPrefix || *pEnd != 'x' || lPid <= 0 || lPid == getpid()) continue;
    if (kill(static_cast<pid_t>(lPid), 0) == 0 || errno != ESRCH) continue;  // owner alive
    CopyName(aszStale[nStale++], e->d_name, kNameLen);
  }
  closedir(dir);
  for (int i = 0; i < nStale; ++i) RunIpNetnsDel(aszStale[i]);
}

}  // namespace lab::cleanup
