// CReqReply: the stop handshake between an owner and its worker thread, two
// manual-reset events. The owner signals and resets the request and waits for
// the reply; the worker watches the request and signals the reply as its last act.
#pragma once

#include "platform/Win32Types.h"

class CReqReply {
 public:
  CReqReply();
  ~CReqReply();  // not virtual: never deleted through the base
  CReqReply(const CReqReply&) = delete;
  CReqReply& operator=(const CReqReply&) = delete;

  // Creates whichever event is missing; FALSE as soon as a creation fails.
  BOOL Init();

  void Request();
  void Reply();
  virtual BOOL Replied();
  virtual BOOL Requested();
  // Resets the request, then the reply; only once the worker no longer uses them.
  void Reset();
  // TRUE if the reply came within the time; FALSE on time-out or failed wait.
  BOOL WaitForReply(DWORD dwMilliseconds);
  void WaitForReplyInfinite();
  // The owner's side of the stop handshake: unless the worker has replied
  // already (then nothing changes), requests, waits for the reply without
  // limit and resets the pair for a new worker.
  void StopWorker();

  HANDLE GetReqHandle() const { return m_hReq; }
  HANDLE GetReplyHandle() const { return m_hReply; }

 protected:
  HANDLE m_hReq;
  HANDLE m_hReply;
};
