// CRecvPacketThread: owns the receiver's multicast socket (receive side only)
// and reads each datagram straight into a free buffer of a ring, one buffer
// per data block of a group. Datagrams of the session go to the receive thread
// through the packet queue; others count as stray, and those that find no free
// buffer are read into a spare and counted as dropped. Learns the payload
// length and the group size from the first accepted datagram when the session
// does not give them. Owned and stopped by the receive thread.
#pragma once

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
  DWORD Init(CPelagoSession* pSession, CPelagoRecv* pRecv,
             CMcastQueue<CPelagoEvent>* pEventQueue,
             CMcastQueue<CPacketQueueEntry>* pPacketQueue, BOOL fLoopback);
  // Closes the socket and frees the ring. REQUIRES: the thread is not running
  // and no entry of the ring is queued or in use.
  void Cleanup();

  // Waits up to dwWaitMs for a datagram and receives it: 0 (also when none
  // came), or a socket error. For the thread body and for tests that drive it
  // without a thread.
  DWORD ReceiveOne(DWORD dwWaitMs = 0);

  DWORD GetPayloadLen() const { return m_dwPayloadLen; }
  int GetRingSize() const { return m_nBuffs; }

 protected:
  DWORD ThreadProc() override;

 private:
  DWORD BuildRing(int nBuffs);

  CMulticast m_Port;
  DWORD m_dwPayloadLen;          // 0 while unknown; packet thread only after Init
  DWORD m_dwBuffLen;
  CPacketQueueEntry* m_Buffs;    // the ring; entries pass by their free flag
  int m_nBuffs;
  CPacketQueueEntry m_Spare;     // packet thread only
  int m_nNextBuff;
  DWORD m_dwDropped;
  DWORD m_dwStray;
  CMcastQueue<CPacketQueueEntry>* m_pPacketQueue;  // not owned
  CMcastQueue<CPelagoEvent>* m_pEventQueue;        // not owned
  DWORD m_dwSourceId;
  CPelagoRecv* m_pRecv;                            // not owned
};
