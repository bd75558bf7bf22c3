#include "platform/Process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Handle.h"
#include "platform/HandleImpl.h"
#include "platform/Thread.h"

extern char** environ;

namespace platform {
namespace {

// One started child, shared by its process and thread handles.
class ProcessState final {
 public:
  ProcessState(pid_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
  ~ProcessState() {
    Reap();
    ::close(m_pidfd);
  }
  ProcessState(const ProcessState&) = delete;
  ProcessState& operator=(const ProcessState&) = delete;

  int pidfd() const { return m_pidfd; }

  // Collects the child's status if it has ended; true once it has.
  bool Reap() {
    std::lock_guard<std::mutex> lock(m_mu);
    return ReapLocked();
  }

  DWORD ExitCode() {
    std::lock_guard<std::mutex> lock(m_mu);
    return ReapLocked() ? m_dwExitCode : STILL_ACTIVE;
  }

  BOOL Terminate(UINT uExitCode) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (ReapLocked()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0) != 0) {
      SetLastError(errno == ESRCH ? ERROR_ACCESS_DENIED : Win32FromErrno(errno));
      return FALSE;
    }
    m_fTerminated = true;
    m_dwTerminateCode = uExitCode;
    return TRUE;
  }

 private:
  bool ReapLocked() {
    if (m_fReaped) return true;
    siginfo_t si{};
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &si, WEXITED | WNOHANG) != 0) {
      if (errno != ECHILD) return false;
      // Someone else collected it: it has ended, with a status unknown here.
      m_fReaped = true;
      m_dwExitCode = ERROR_GEN_FAILURE;
      return true;
    }
    if (si.si_pid == 0) return false;
    m_fReaped = true;
    if (si.si_code == CLD_EXITED) {
      m_dwExitCode = static_cast<DWORD>(si.si_status);
    } else if (m_fTerminated && si.si_status == SIGKILL) {
      m_dwExitCode = m_dwTerminateCode;
    } else {
      m_dwExitCode = 128 + static_cast<DWORD>(si.si_status);
    }
    return true;
  }

  const pid_t m_pid;
  const int m_pidfd;  // readable once the child has ended
  std::mutex m_mu;
  bool m_fReaped = false;       // guarded by m_mu
  DWORD m_dwExitCode = 0;       // guarded by m_mu
  bool m_fTerminated = false;   // guarded by m_mu
  DWORD m_dwTerminateCode = 0;  // guarded by m_mu
};

class ProcessObject final : public WaitObject {
 public:
  explicit ProcessObject(std::shared_ptr<ProcessState> state) : m_state(std::move(state)) {}
  int PollFds(pollfd* fds) override {
    fds[0] = {m_state->pidfd(), POLLIN, 0};
    return 1;
  }
  bool Acquire(const pollfd* fds) override {
    return (fds[0].revents & POLLIN) != 0 && m_state->Reap();
  }
  void* SyncAddress() override { return m_state.get(); }
  ProcessState& State() { return *m_state; }

 private:
  std::shared_ptr<ProcessState> m_state;
};

ProcessObject* ToProcess(HANDLE h) { return dynamic_cast<ProcessObject*>(ToWaitObject(h)); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

DWORD Win32FromSpawnError(int err) {
  return err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : Win32FromErrno(err);
}

// The "NAME=value\0...\0\0" block as an environment vector (pointing into it).
std::vector<char*> EnvironmentOf(LPVOID lpEnvironment) {
  std::vector<char*> env;
  if (lpEnvironment == nullptr) {
    for (char** p = environ; *p != nullptr; ++p) env.push_back(*p);
  } else {
    for (char* p = static_cast<char*>(lpEnvironment); *p != '\0'; p += std::strlen(p) + 1) {
      env.push_back(p);
    }
  }
  env.push_back(nullptr);
  return env;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
  SpawnSetup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view cl) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = cl.size();
  while (i < n && IsBlank(cl[i])) ++i;
  if (i == n) return args;

  // The program's name: quotes only group, backslashes are plain.
  std::string arg;
  bool fQuoted = false;
  for (; i < n && (fQuoted || !IsBlank(cl[i])); ++i) {
    if (cl[i] == '"') {
      fQuoted = !fQuoted;
    } else {
      arg += cl[i];
    }
  }
  args.push_back(std::move(arg));

  for (;;) {
    while (i < n && IsBlank(cl[i])) ++i;
    if (i == n) break;
    arg.clear();
    fQuoted = false;
    while (i < n && (fQuoted || !IsBlank(cl[i]))) {
      if (cl[i] == '\\') {
        std::size_t nSlashes = 0;
        while (i < n && cl[i] == '\\') ++nSlashes, ++i;
        if (i < n && cl[i] == '"') {
          arg.append(nSlashes / 2, '\\');
          if (nSlashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(nSlashes, '\\');
        }
      } else if (cl[i] == '"') {
        if (fQuoted && i + 1 < n && cl[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          fQuoted = !fQuoted;
          ++i;
        }
      } else {
        arg += cl[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::string QuoteArgument(std::string_view argument) {
  std::string out = "\"";
  std::size_t nSlashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++nSlashes;
      continue;
    }
    out.append(c == '"' ? 2 * nSlashes + 1 : nSlashes, '\\');
    nSlashes = 0;
    out += c;
  }
  out.append(2 * nSlashes, '\\');
  out += '"';
  return out;
}

}  // namespace platform

using platform::ProcessObject;
using platform::ProcessState;

void GetStartupInfo(STARTUPINFO* lpStartupInfo) {
  if (lpStartupInfo != nullptr) *lpStartupInfo = STARTUPINFO{};
}

BOOL CreateProcess(LPCSTR lpApplicationName, LPSTR lpCommandLine, const void* lpProcessAttributes,
                   const void* lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                   LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                   const STARTUPINFO* lpStartupInfo, PROCESS_INFORMATION* lpProcessInformation) {
  constexpr DWORD kModelledFlags = DETACHED_PROCESS | NORMAL_PRIORITY_CLASS;
  if (lpCommandLine == nullptr || lpProcessInformation == nullptr ||
      (dwCreationFlags & ~kModelledFlags) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::string> args = platform::SplitCommandLine(lpCommandLine);
  if (args.empty() && lpApplicationName != nullptr) args.emplace_back(lpApplicationName);
  if (args.empty() || (lpApplicationName != nullptr && *lpApplicationName == '\0')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string program = lpApplicationName != nullptr ? lpApplicationName : args[0];
  if (lpCurrentDirectory != nullptr && !platform::DirectoryExists(lpCurrentDirectory)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }

  platform::SpawnSetup setup;
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&setup.attr, &signals);
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  posix_spawnattr_setsigdefault(&setup.attr, &signals);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (lpStartupInfo != nullptr && (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0) {
    const int fds[3] = {lpStartupInfo->fdStdInput, lpStartupInfo->fdStdOutput,
                        lpStartupInfo->fdStdError};
    for (int target = 0; target < 3; ++target) {
      if (fds[target] >= 0) posix_spawn_file_actions_adddup2(&setup.actions, fds[target], target);
    }
  }
  if (!bInheritHandles) posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  if (lpCurrentDirectory != nullptr) {
    posix_spawn_file_actions_addchdir_np(&setup.actions, lpCurrentDirectory);
  }

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp = platform::EnvironmentOf(lpEnvironment);

  pid_t pid = 0;
  const bool fSearch = lpApplicationName == nullptr && program.find('/') == std::string::npos;
  int err = fSearch ? posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(),
                                   envp.data())
                    : posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(),
                                  envp.data());
  if (err != 0) {
    SetLastError(platform::Win32FromSpawnError(err));
    return FALSE;
  }
  // The child is not reaped before the pidfd exists, so its id cannot be reused.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    DWORD dwErr = platform::Win32FromErrno(errno);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    SetLastError(dwErr);
    return FALSE;
  }
  auto state = std::make_shared<ProcessState>(pid, pidfd);
  lpProcessInformation->hProcess = platform::RegisterHandle(new ProcessObject(state));
  lpProcessInformation->hThread = platform::RegisterHandle(new ProcessObject(state));
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) {
  ProcessObject* p = platform::ToProcess(hProcess);
  if (p == nullptr || lpExitCode == nullptr) {
    SetLastError(p == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = p->State().ExitCode();
  return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  ProcessObject* p = platform::ToProcess(hProcess);
  if (p == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return p->State().Terminate(uExitCode);
}
