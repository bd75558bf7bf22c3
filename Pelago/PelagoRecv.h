// CPelagoRecv: the exported receiver. Owns the event queue, the packet queue
// and the receive thread (which runs the packet receive thread), keeps the
// receive statistics, and hands the threads' events to its caller one at a
// time. Received files are restored in the save folder under the sender's
// base name.
//
// The caller's thread reads events and statistics; the receive and packet
// threads post events and set counters. The counters are guarded by m_pLock,
// each queue by its own lock.
#pragma once

#include "Pelago/PacketQueueEntry.h"
#include "Pelago/PelagoEvent.h"
#include "Pelago/PelagoSession.h"
#include "mcast/Lock.h"
#include "mcast/McastQueue.h"
#include "platform/Win32Types.h"

class CRecvThread;

class CPelagoRecv {
 public:
  CPelagoRecv();
  ~CPelagoRecv();
  CPelagoRecv(const CPelagoRecv&) = delete;
  CPelagoRecv& operator=(const CPelagoRecv&) = delete;

  // Sets up a receive of pSession into szSaveDir; with fStopAfterFile the
  // receive ends after the first file. 87 for a null argument, 8 for memory,
  // else the receive thread's set-up result.
  unsigned long Init(CPelagoSession* pSession, const char* szSaveDir, int fStopAfterFile);
  // 0, 31 without Init, 1241 once the receive was stopped (it needs Init
  // again), or the thread's start error.
  unsigned long StartPelagoRecv();
  void StopPelagoRecv();
  // Waits up to dwTimeoutMs for the next event: 0 with the event (or with
  // PELAGORE_CONTINUE on time-out); 1068 or 31 with PELAGORE_FATAL_ERROR when
  // the queue fails.
  int GetNextRecvEvent(CPelagoEvent* pEvent, unsigned long dwTimeoutMs);
  void GetRecvStats(tPelagoRecvStats* pStats);

  // Simulated receive loss in percent; read when the packet thread is set up.
  void SetSimLoss(float fPercent);
  float GetSimLossPerc();

  // Called by the threads.
  void SetRecvStats(DWORD dwReceived, DWORD dwLost, DWORD dwOutOfOrder, DWORD dwRedundant);
  void SetPayloadLen(DWORD dw);
  void SetStray(DWORD dw);
  void SetDropped(DWORD dw);
  void SetDecoded(DWORD dw);
  void SetFilesRcvd(DWORD dw);
  void SetFilesDone(DWORD dw);
  void SetFilesStarted(DWORD dw);

  void Cleanup();

 private:
  void SetCounter(DWORD tPelagoRecvStats::*pField, DWORD dw);

  CMcastQueue<CPelagoEvent>* m_pEventQueue;              // owned
  CMcastQueue<CPacketQueueEntry>* m_pPacketQueue;        // owned
  CPelagoSession m_Session;                              // read by the threads while they run
  tPelagoRecvStats m_Stats;                              // guarded by m_pLock
  char m_szSaveDir[260];
  CLock* m_pLock;
  CRecvThread* m_pRecvThread;                            // owned; caller's thread only
  bool m_fStopped;  // the receive ran and was stopped; caller's thread only
  float m_fSimLossPerc;                                  // guarded by m_pLock
};
