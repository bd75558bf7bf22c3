// One program of a show (a launcher with its Powerpnt, or any helper
// program), started with its standard input and output on pipes, optionally
// inside a lab host's network namespace, and read line by line.
//
// The process runs in a process group of its own, which Stop (and the lab's
// signal handlers, to which it is registered) ends as a whole. Not
// thread-safe: one thread drives all of a show's processes.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace show {

class CShowProcess {
 public:
  CShowProcess() = default;
  ~CShowProcess();  // Stop
  CShowProcess(const CShowProcess&) = delete;
  CShowProcess& operator=(const CShowProcess&) = delete;

  // Starts argv (argv[0] a path) with `env` added to the environment; inside
  // network namespace sNamespace when it is not empty. False with *psError.
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& sNamespace, std::string* psError);

  // Writes one line to its standard input; false once that is closed.
  bool SendLine(const std::string& sLine);
  void CloseInput();

  // The descriptor to poll for output, or -1 once it is closed.
  int OutputFd() const { return m_fdOut; }
  // Reads what is there (after poll said so) and appends whole lines to
  // *pLines; the output closes at end of file.
  void ReadLines(std::vector<std::string>* pLines);

  // Whether it has ended (reaping it); its exit code then (128 + signal).
  bool Ended();
  int ExitCode() const { return m_nExitCode; }
  // Waits up to dwTimeoutMs for it to end by itself.
  bool WaitEnded(unsigned dwTimeoutMs);
  // Ends the whole process group (TERM, then KILL after a grace period).
  void Stop();

  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_fdIn = -1;
  int m_fdOut = -1;
  bool m_fEnded = false;
  int m_nExitCode = -1;
  std::string m_sPartial;  // output after the last newline
};

}  // namespace show
