#include "tests/show/ShowProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/lab/LabCleanup.h"

extern char** environ;

namespace show {
namespace {

std::vector<std::string> EnvironWith(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** p = environ; *p != nullptr; ++p) {
    std::string s(*p);
    if (extra.find(s.substr(0, s.find('='))) == extra.end()) env.push_back(s);
  }
  for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

CShowProcess::~CShowProcess() { Stop(); }

bool CShowProcess::Start(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& sNamespace, std::string* psError) {
  if (argv.empty() || m_pid > 0) {
    *psError = "nothing to start";
    return false;
  }
  std::vector<std::string> args;
  if (!sNamespace.empty()) {
    const char* szIp = lab::cleanup::IpPath();
    if (szIp == nullptr) {
      *psError = "the 'ip' program (iproute2) is missing";
      return false;
    }
    args = {szIp, "netns", "exec", sNamespace};
  }
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<std::string> envs = EnvironWith(env);
  std::vector<char*> pArgs = Pointers(args), pEnv = Pointers(envs);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    *psError = std::string("pipe: ") + strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    *psError = std::string("pipe: ") + strerror(errno);
    close(in[0]), close(in[1]);
    return false;
  }
  lab::cleanup::InstallOnce();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    execve(pArgs[0], pArgs.data(), pEnv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    *psError = std::string("fork: ") + strerror(errno);
    close(in[1]), close(out[0]);
    return false;
  }
  setpgid(pid, pid);
  lab::cleanup::AddChild(pid);
  m_pid = pid;
  m_fdIn = in[1];
  m_fdOut = out[0];
  fcntl(m_fdOut, F_SETFL, fcntl(m_fdOut, F_GETFL) | O_NONBLOCK);
  return true;
}

bool CShowProcess::SendLine(const std::string& sLine) {
  if (m_fdIn < 0) return false;
  std::string s = sLine + "\n";
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(m_fdIn, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseInput();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void CShowProcess::CloseInput() {
  if (m_fdIn >= 0) close(m_fdIn);
  m_fdIn = -1;
}

void CShowProcess::ReadLines(std::vector<std::string>* pLines) {
  char buf[4096];
  while (m_fdOut >= 0) {
    ssize_t n = read(m_fdOut, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      close(m_fdOut);
      m_fdOut = -1;
      if (!m_sPartial.empty()) pLines->push_back(m_sPartial);
      m_sPartial.clear();
      return;
    }
    m_sPartial.append(buf, static_cast<size_t>(n));
    size_t at;
    while ((at = m_sPartial.find('\n')) != std::string::npos) {
      pLines->push_back(m_sPartial.substr(0, at));
      m_sPartial.erase(0, at + 1);
    }
  }
}

bool CShowProcess::Ended() {
  if (m_pid <= 0 || m_fEnded) return true;
  int status = 0;
  pid_t r = waitpid(m_pid, &status, WNOHANG);
  if (r != m_pid) return false;
  m_fEnded = true;
  m_nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  kill(-m_pid, SIGKILL);  // whatever it left running in its group
  lab::cleanup::RemoveChild(m_pid);
  return true;
}

bool CShowProcess::WaitEnded(unsigned dwTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeoutMs);
  while (!Ended()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void CShowProcess::Stop() {
  CloseInput();
  if (m_pid > 0 && !Ended()) {
    kill(-m_pid, SIGTERM);
    if (!WaitEnded(2000)) {
      kill(-m_pid, SIGKILL);
      WaitEnded(5000);
    }
  }
  if (m_fdOut >= 0) close(m_fdOut);
  m_fdOut = -1;
}

}  // namespace show
