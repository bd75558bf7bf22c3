// CKORINreceiver: the receiving end of Korin. It owns the multicast port, the
// receive queue and the I/O thread that feeds it; the application's thread
// takes packets out with Receive and polls with Wait. Single packets come in
// arrival order; a repaired FEC group comes afterwards as K consecutive
// reliable sequences, so a sequence can arrive twice.
// Threads: one application thread calls Receive/Wait at a time; Open and
// Close must not run while it does.
#pragma once

#include <memory>

#include "korin/IReliableReceiver.h"
#include "korin/PortHolder.h"
#include "korin/RcvrIOThread.h"
#include "korin/RecvQueue.h"
#include "mcast/Multicast.h"
#include "platform/Win32Types.h"

class CKORINreceiver : public IReliableReceiver {
 public:
  CKORINreceiver(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nNackBackoffMax);
  ~CKORINreceiver() override;
  CKORINreceiver(const CKORINreceiver&) = delete;
  CKORINreceiver& operator=(const CKORINreceiver&) = delete;

  // Joins the group and starts the I/O thread. FALSE for nK outside 1..16 or
  // any failed creation; nothing stays open then.
  BOOL Open(int nK, const char* szDottedAddr, WORD wPort, int nTTL);
  // Stops the I/O thread and releases queue, port and event. The caller has
  // stopped calling Receive.
  void Close();

  int Receive(BYTE* pBuf, DWORD dwBufLen, DWORD* pdwBytesReceived, DWORD* pdwSequence,
              DWORD* pdwLowWater, BOOL* pfReliable) override;
  int GetMaxPacketSize() override;
  int Wait(long lSec, long lUsec) override;

  // What was dropped so far (0 when closed): data datagrams taken for
  // forgeries, packets nobody read in time, full groups that did not decode.
  DWORD GetForgedDropped();
  DWORD GetPacketsDropped();
  DWORD GetGroupsUndecodable();

  // The open port (null when closed), for simulated loss in tests.
  CMulticast* GetPort() { return m_Port.Get(); }

 private:
  int m_nK;
  std::unique_ptr<CRecvQueue> m_pQueue;
  CPortHolder m_Port;
  DWORD m_dwNackMinMs;
  DWORD m_dwNackMaxMs;
  int m_nNackBackoffMax;
  std::unique_ptr<CRcvrIOThread> m_pIOThread;
  HANDLE m_hComplete;  // manual reset: a pending Receive completed
};
