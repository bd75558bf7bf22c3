// CxThread: base of the file multicast library's worker threads. Owns the
// thread and a stop handshake; starts the thread on the virtual body and stops
// it within a time limit, ending it forcibly once the limit has passed.
//
// Used by two threads: the owner calls Start, Stop and destroys the object;
// the worker runs ThreadProc and polls StopRequested. Either may call
// SetPriority (bodies raise their own).
#pragma once

#include "mcast/Lock.h"
#include "mcast/ReqReply.h"
#include "platform/Win32Types.h"

class CxThread {
 public:
  CxThread();
  // Stops the thread (5000 ms). Derived classes whose clean-up needs the thread
  // ended stop it in their own destructor first.
  virtual ~CxThread();
  CxThread(const CxThread&) = delete;
  CxThread& operator=(const CxThread&) = delete;

  // Starts the body on a new thread; 0 when it runs or already ran, else the
  // creation's Win32 error (the object stays idle).
  DWORD Start();
  // Requests a stop and waits up to dwTimeoutMs for the body to end; past the
  // limit the thread is ended forcibly. 0, or the error of a failed forced end
  // (the object then stays marked running).
  DWORD Stop(DWORD dwTimeoutMs);
  // 0, or GetLastError() of a failed SetThreadPriority.
  DWORD SetPriority(int nPriority);
  BOOL StopRequested() { return m_ReqReply.Requested(); }
  CReqReply* GetReqReply() { return &m_ReqReply; }
  BOOL IsRunning() const { return m_fRunning; }
  // The body's result once it has returned.
  DWORD GetExitCode() const { return m_dwExitCode; }

 protected:
  // The thread body; its result becomes the thread's exit code.
  virtual DWORD ThreadProc() = 0;

 private:
  static DWORD StartRoutine(LPVOID pParam);

  BOOL m_fRunning;       // owner's thread only
  DWORD m_dwExitCode;    // written by the worker before its reply; read after it
  CReqReply m_ReqReply;  // its own events order the two threads
  CLock m_Lock;          // guards m_hThread, m_dwThreadId
  HANDLE m_hThread;      // written by the owner, read by SetPriority on either thread
  DWORD m_dwThreadId;
};
