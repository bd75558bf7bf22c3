// CRecvThread: the receiver's worker thread. Runs the packet receive thread,
// takes the datagrams it queues, tracks sequence numbers, hands each datagram
// to the file map and reports statistics and events to the CPelagoRecv that
// owns it. Owns the file map and the packet receive thread.
//
// Takes the queued datagrams in batches and gives each ring buffer back as
// soon as its payload has been taken; the payloads are written, statistics
// go out and a file that the batch completed is decoded, checked and restored
// only after every buffer of the batch is free again; meanwhile datagrams
// are still taken in, so that none waits behind the decoding.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Pelago/PacketQueueEntry.h"
#include "Pelago/PelagoEvent.h"
#include "Pelago/PelagoSession.h"
#include "Pelago/RecvFiles.h"
#include "Pelago/RecvPacketThread.h"
#include "mcast/McastQueue.h"
#include "mcast/xThread.h"
#include "platform/Win32Types.h"

class CPelagoRecv;

class CRecvThread : public CxThread {
 public:
  CRecvThread();
  ~CRecvThread() override;

  // Creates the file map and the packet receive thread (loopback on). 0, 8,
  // or the packet thread's set-up error.
  DWORD Init(CPelagoRecv* pRecv, CPelagoSession* pSession,
             CMcastQueue<CPelagoEvent>* pEventQueue,
             CMcastQueue<CPacketQueueEntry>* pPacketQueue, const char* szSaveDir,
             int fStopAfterFile);

  // Handles one datagram as the body does (for tests that drive it without
  // threads).
  void HandleDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen);

  // Most datagrams taken from the queue at once (the largest ring).
  static constexpr int kMaxBatch = 256;

 protected:
  DWORD ThreadProc() override;

 private:
  void TrackSeqNo(DWORD dwSeqNo);
  // Takes one datagram's payload; a file it completes joins m_Complete.
  void TakeDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen);
  // Writes the payloads taken out to their files.
  void WriteTaken();
  void ReportStats();
  // Restores the files in m_Complete and reports them.
  void FinishComplete();
  // Takes in what is queued without waiting (while a file is restored).
  void Pump();
  void Release();

  CPelagoRecv* m_pRecv;                               // the owner
  CMcastQueue<CPelagoEvent>* m_pEventQueue;           // the owner's
  CMcastQueue<CPacketQueueEntry>* m_pPacketQueue;     // the owner's
  std::unique_ptr<CRecvFiles> m_pFiles;               // this thread only, once started
  std::unique_ptr<CRecvPacketThread> m_pPacketThread; // started and stopped by this thread
  std::string m_SaveDir;
  BOOL m_fStopAfterFile;
  BOOL m_fFinished;  // stop-after-file: the file is done
  std::vector<DWORD> m_Complete;  // whole files waiting to be restored
  // Counters; this thread only.
  bool m_fSeqKnown;
  DWORD m_dwExpectedSeq;
  DWORD m_dwReceived;
  DWORD m_dwLost;
  DWORD m_dwOutOfOrder;
  DWORD m_dwRedundant;
  DWORD m_dwDecoded;
  DWORD m_dwFilesStarted;
  DWORD m_dwFilesRcvd;
  DWORD m_dwFilesDone;
};
