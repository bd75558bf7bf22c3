// CRecvPacketThread: owns the receiver's multicast socket (receive side only)
// and reads each datagram straight into a free buffer of a ring, one buffer
// per data block of a group. Datagrams of the session go to the receive thread
// through the packet queue; others count as stray, and those that find no free
// buffer are read into a spare and counted as dropped. Learns the payload
// length and the group size from the first accepted datagram when the session
// does not give them, and learns again when the traffic of the session's
// source id stops using the learned length (a forged first datagram). Owned
// and stopped by the receive thread.
//
// While datagrams flow the thread reads what the socket holds into the free
// ring buffers, hands them over in one batch and naps before the next, so
// that neither thread wakes nor signals per datagram. The nap follows the
// traffic: about seven eighths of the ring fill in it. When the ring is
// full a datagram waits in the socket buffer until the receive thread gives
// buffers back (BuffersFreed); only when the socket is nearly full do the
// oldest go into the spare.
#pragma once

#include <atomic>

#include "Pelago/PacketQueueEntry.h"
#include "Pelago/PelagoEvent.h"
#include "Pelago/PelagoSession.h"
#include "mcast/McastQueue.h"
#include "mcast/Multicast.h"
#include "mcast/xThread.h"
#include "platform/Win32Types.h"

class CPelagoRecv;

class CRecvPacketThread : public CxThread {
 public:
  CRecvPacketThread();
  ~CRecvPacketThread() override;

  // Opens the socket and builds the ring when the payload length is known.
  // 0, 31 (loss setting), the socket error, 87, 8 or 1450 (ring).
  DWORD Init(CPelagoSession* pSession, CPelagoRecv* pRecv, CMcastQueue<CPelagoEvent>* pEventQueue,
             CMcastQueue<CPacketQueueEntry>* pPacketQueue, BOOL fLoopback);
  // Closes the socket and frees the ring. REQUIRES: the thread is not running
  // and no entry of the ring is queued or in use.
  void Cleanup();

  // Waits up to dwWaitMs for a datagram and receives it: 0 (also when none
  // came), or a socket error. For the thread body and for tests that drive it
  // without a thread.
  DWORD ReceiveOne(DWORD dwWaitMs = 0);

  // The receive thread: buffers of the ring were given back.
  void BuffersFreed();

  // The bounds of the nap between two batches while datagrams flow, the
  // share of the ring (in eighths) that is to fill in it, and how often the
  // stop request is looked at while datagrams flow.
  static constexpr DWORD kMinNapUs = 500;
  static constexpr DWORD kMaxNapUs = 8000;
  static constexpr DWORD kNapFill = 7;
  // While the ring is full: how often the socket's fill is looked at (less
  // often while it is below a third of the spill mark), and the fill
  // (percent) from which datagrams go into the spare.
  static constexpr DWORD kHeldLookMs = 1;
  static constexpr DWORD kHeldLongLookMs = 4;
  static constexpr int kSpillFillPercent = 90;
  static constexpr DWORD kStopLookMs = 20;

  DWORD GetPayloadLen() const { return m_dwPayloadLen; }
  int GetRingSize() const { return m_nBuffs; }

  // Learning: datagrams of the session's source id are judged in windows of
  // this many; one where fewer than a quarter had the learned length makes
  // the thread learn again.
  static constexpr DWORD kRelearnWindow = 64;

 protected:
  DWORD ThreadProc() override;

 private:
  DWORD BuildRing(int nBuffs);
  // Reads one datagram into the next free ring buffer (the spare when fSpare
  // or none is free): 0 with *pfRead whether one was waiting, or a socket
  // error. Accepted buffers wait in m_Pending.
  DWORD ReceiveDatagram(bool fSpare, bool* pfRead);
  // Reads the waiting datagrams into the free ring buffers from the next one
  // on, in one call: 0 with *pnRead how many came and *pfDrained whether
  // fewer came than there was room for, or a socket error.
  DWORD ReceiveIntoRing(int* pnRead, bool* pfDrained);
  // Judges a datagram read into pEntry (dwBytes 0: nothing usable; fTooLong:
  // it did not fit): stray, dropped (the spare) or waiting in m_Pending. 0,
  // or the error of building the ring when it taught the payload length.
  DWORD Accept(CPacketQueueEntry* pEntry, DWORD dwBytes, bool fTooLong);
  // Whether it is a datagram of the session; counts it as stray if not.
  bool IsSessionDatagram(CPacketQueueEntry* pEntry, DWORD dwBytes, bool fTooLong);
  // Reads what the socket holds into the free buffers (and, while none is
  // free, up to nSpill datagrams in all into the spare): 0 with *pnRead how
  // many datagrams came and *pfRingFull whether reading stopped at a busy
  // buffer, or a socket error.
  DWORD ReceiveBatch(int nSpill, int* pnRead, bool* pfRingFull);
  // Sets the next nap from what the last one brought.
  void PaceNap(int nRead, bool fRingFull);
  // Waits up to dwMs for the next ring buffer to be given back.
  void WaitForBuffers(DWORD dwMs);
  // Hands the waiting buffers over in one queue operation: 0 or 31.
  DWORD Publish();
  // Counts one datagram of the session's source id towards the relearning
  // window: fHit when it had the learned length.
  void JudgeLength(bool fHit);
  // Back to learning once a pending relearn finds every ring entry free.
  void RelearnIfDue();

  CMulticast m_Port;
  DWORD m_dwPayloadLen;  // 0 while unknown; packet thread only after Init
  DWORD m_dwBuffLen;
  CPacketQueueEntry* m_Buffs;  // the ring; entries pass by their free flag
  int m_nBuffs;
  CPacketQueueEntry m_Spare;  // packet thread only
  int m_nNextBuff;
  static constexpr int kMaxRing = 256;
  CPacketQueueEntry* m_Pending[kMaxRing];  // accepted, not yet queued; packet thread only
  int m_nPending;
  DWORD m_dwDropped;
  DWORD m_dwStray;
  CMcastQueue<CPacketQueueEntry>* m_pPacketQueue;  // not owned
  CMcastQueue<CPelagoEvent>* m_pEventQueue;        // not owned
  DWORD m_dwSourceId;
  CPelagoRecv* m_pRecv;  // not owned
  // The packet thread waits for buffers; the receive thread then signals
  // m_hFreed (auto-reset). Both atomic / waitable: no other guard.
  std::atomic<bool> m_fWantBuffers;
  HANDLE m_hFreed;
  // Learning state; packet thread only after Init.
  bool m_fLearning;        // the session gives no payload length
  bool m_fRelearnPending;  // the learned length is wrong: learn again
  DWORD m_dwWindowHits;
  DWORD m_dwWindowMisses;
  DWORD m_dwNapUs;  // packet thread only
};
