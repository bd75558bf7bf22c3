// CSendReq: one send handed from a caller of CKORINsender::Send to the
// sender's I/O thread; CSendQueue: the FIFO of those requests.
//
// The caller owns the buffers and result fields a request points to and waits
// on the request's overlap event until the I/O thread has filled them in.
#pragma once

#include <deque>

#include "mcast/Lock.h"
#include "mcast/Winsock.h"
#include "platform/Win32Types.h"

struct CSendReq {
  // Debug assertions check what the I/O thread relies on; IsValid tells
  // whether they held.
  CSendReq(WSABUF* lpBuffers, DWORD dwBufferCount, DWORD* lpNumberOfBytesSent,
           OVERLAPPED* lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE,
           DWORD* pSequence, BOOL fReliable, int* pnResult, int* pnError);
  BOOL IsValid() const { return m_fValid; }
  // Sets the results and signals the overlap event (the caller may then free
  // the request's buffers at once).
  void Complete(int nResult, int nError, DWORD dwBytesSent);

  WSABUF* lpBuffers;
  DWORD dwBufferCount;  // always 1 from CKORINsender
  DWORD* lpNumberOfBytesSent;
  OVERLAPPED* lpOverlapped;
  LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE;  // unsupported, NULL
  DWORD* pSequence;  // reliable only
  BOOL fReliable;
  int* pnResult;  // bytes sent including the header, or SOCKET_ERROR
  int* pnError;   // Winsock or Win32 error code

 private:
  BOOL m_fValid;
};

class CSendQueue {
 public:
  CSendQueue();
  ~CSendQueue();  // deletes requests still queued, without completing them
  CSendQueue(const CSendQueue&) = delete;
  CSendQueue& operator=(const CSendQueue&) = delete;

  // Creates the packet-ready event. FALSE if it cannot be created.
  BOOL Init();
  // Appends (Push) or puts back at the head (PushFront) a request and signals;
  // takes ownership. FALSE (request not taken) without Init or memory.
  BOOL Push(CSendReq* pReq);
  BOOL PushFront(CSendReq* pReq);
  // Takes the head; resets the event when the queue becomes empty. FALSE when empty.
  BOOL Pop(CSendReq** ppReq);
  // TRUE while the queue holds a request (the event is tested without waiting).
  BOOL IsReady();
  // Manual-reset, signalled while the queue is not empty.
  HANDLE GetPacketReadyEvent() const { return m_hPacketReady; }

 private:
  BOOL Add(CSendReq* pReq, BOOL fFront);

  std::deque<CSendReq*> m_Requests;  // guarded by m_Lock; owned
  CLock m_Lock;
  HANDLE m_hPacketReady;  // set and reset under m_Lock
};
