// CWinsockStartup: starts Windows Sockets version 1.1 for the life of the
// object. On this platform sockets need no start-up, so it always succeeds;
// the class keeps the recorded result and the pairing of start-up and clean-up.
#pragma once

class CWinsockStartup {
 public:
  CWinsockStartup() : m_nResult(0) {}
  ~CWinsockStartup() {}  // clean-up would run only after a successful start-up
  CWinsockStartup(const CWinsockStartup&) = delete;
  CWinsockStartup& operator=(const CWinsockStartup&) = delete;

  // 0 when the start-up succeeded, else its error code.
  int GetResult() const { return m_nResult; }

 private:
  int m_nResult;
};
