// CPelagoSend: the exported sender. Sends one file at a time as a carousel of
// erasure-coded datagrams on its own send thread; the caller initialises it,
// starts a file, polls its statistics and stops it.
//
// The caller's thread and the send thread share only the statistics (guarded
// by m_Lock). The object owns its send thread and stops it before freeing
// anything the thread uses.
#pragma once

#include <string>

#include "Pelago/PelagoFile.h"
#include "Pelago/PelagoSession.h"
#include "mcast/Lock.h"
#include "platform/Win32Types.h"

class CSendThread;

struct tPelagoSendStats {
  DWORD SentCount;
  DWORD SentRounds;
  DWORD CurrentIndex;
  DWORD Complete;   // 1 once the send thread has ended
  DWORD ErrorCode;  // the send thread's result
};

class CPelagoSend {
 public:
  CPelagoSend();
  ~CPelagoSend();
  CPelagoSend(const CPelagoSend&) = delete;
  CPelagoSend& operator=(const CPelagoSend&) = delete;

  // 87 unless pSession is given with K, N and payload length non-zero; 8 for
  // memory; else 0. Keeps a copy of the session.
  unsigned long Init(CPelagoSession* pSession);
  // Sends the named file on the send thread, dwMaxRounds rounds (0: until
  // stopped). 87 for a null name, an empty file or a call without Init; the
  // platform's error for a file that cannot be read; 8 for memory; else the
  // thread's start result.
  unsigned long Start(char* szFileName, unsigned long dwMaxRounds);
  // Stops the send thread (5000 ms) and frees the transfer; Start then needs
  // Init again.
  void StopPelagoSend();
  void GetSendStats(tPelagoSendStats* pStats);
  // WaitForSingleObject on the completion handle: WAIT_OBJECT_0 once the
  // thread has ended, WAIT_TIMEOUT, or WAIT_FAILED when no transfer runs.
  unsigned long WaitForCompletion(unsigned long dwTimeoutMs);
  // Signalled once the send thread has ended; null when no transfer exists.
  // Valid until the transfer is stopped or the object is destroyed.
  HANDLE GetCompletionEventHandle() { return m_hCompletion; }
  // Data blocks of the current file; 0 without a transfer.
  unsigned long GetTotalBlocks();
  // Simulated send loss in percent, from the next Start on.
  void SetSimLoss(float fPercent) { m_fSimLossPerc = fPercent; }

  // Called by the send thread.
  void SetSendStats(unsigned long dwRounds, unsigned long dwSent, unsigned long dwIndex);
  void NotifyComplete(int nCode);
  CPelagoSession* GetSession() { return &m_Session; }
  CPelagoFile* GetFile() { return m_pFile; }
  // The whole name the file was started with.
  const char* GetPath() const { return m_Path.c_str(); }
  float GetSimLoss() const { return m_fSimLossPerc; }

 private:
  void Cleanup();

  tPelagoSendStats m_Stats;  // guarded by m_Lock
  CLock* m_pLock;
  CPelagoSession m_Session;  // set by Init; read by the send thread while it runs
  CSendThread* m_pThread;    // owned; caller's thread only
  CPelagoFile* m_pFile;      // owned; read by the send thread's Init only
  std::string m_Path;        // the file's whole name; likewise
  float m_fSimLossPerc;      // caller's thread only
  HANDLE m_hCompletion;      // the thread's reply event; caller's thread only
  DWORD m_dwFileId;          // caller's thread only
};
