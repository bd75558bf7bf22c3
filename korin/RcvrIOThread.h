// CRcvrIOThread: the one thread of a Korin receiver that touches the socket.
// It reads every datagram of the group into the NACK list it derives from,
// hands accepted packets and complete groups to the receive queue, and sends
// NACK packets when they are due. The owner starts it and stops it by
// destroying it.
#pragma once

#include "korin/NACKlist.h"
#include "korin/RecvQueue.h"
#include "mcast/Multicast.h"
#include "mcast/ReqReply.h"
#include "platform/Win32Types.h"

class CRcvrIOThread : public CNACKlist {
 public:
  static constexpr DWORD kWaitMs = 300;

  explicit CRcvrIOThread(int nK);
  // Stops the thread (stop handshake) and closes the events.
  ~CRcvrIOThread() override;

  // Selects read and write events on the port and starts the thread. Queue
  // and port are not owned and must outlive this object. FALSE on any failure.
  BOOL Start(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nBackoffCap, CRecvQueue* pRecvQueue,
             CMulticast* pPort);

  // Takes one received datagram of dwBytes bytes: its first 19 (or fewer)
  // bytes in pHeader, the rest in pPayload (new[], owned from here on). Runs
  // the header check, the NACK list and the queue. The thread calls it for
  // every datagram; without a started thread (InitList instead) it drives the
  // same path without a socket.
  void TakeDatagram(const BYTE* pHeader, BYTE* pPayload, DWORD dwBytes);

 private:
  static DWORD ThreadProc(LPVOID pParam);
  DWORD Run();
  void ReceiveOne();
  void SendNACK();

  HANDLE m_hThread;
  DWORD m_dwThreadId;
  CReqReply m_ReqReply;      // stop handshake with the owner
  CRecvQueue* m_pRecvQueue;  // not owned; set before the thread starts
  CMulticast* m_pPort;       // not owned; used only by the thread once started
  HANDLE m_hReadEvent;
  HANDLE m_hWriteEvent;
};
