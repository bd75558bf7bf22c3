// CSendReq: one send handed from a caller of CKORINsender::Send to the
// sender's I/O thread; CSendQueue: the FIFO of those requests.
//
// A request made by Create owns its payload copy and shares its results with
// the caller (tSendOutcome), so that a caller that stops waiting leaves the
// I/O thread nothing of its own frame to touch. A request made with the
// pointer constructor points into memory its caller keeps until completion.
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "mcast/Lock.h"
#include "mcast/Winsock.h"
#include "platform/Win32Types.h"

// What a send leaves for its caller. The fields are written before fDone.
struct tSendOutcome {
  std::atomic<BOOL> fDone{FALSE};
  int nResult = SOCKET_ERROR;
  int nError = 0;
  DWORD dwBytesSent = 0;
  DWORD dwSequence = 0;
};

struct CSendReq {
  // A request that owns a copy of the payload and its overlap record and
  // writes its results into *ppOutcome (made here). nullptr when out of
  // memory. hEvent is signalled on completion.
  static CSendReq* Create(const BYTE* pBuf, DWORD dwLen, BOOL fReliable, HANDLE hEvent,
                          std::shared_ptr<tSendOutcome>* ppOutcome);

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
  CSendReq() = default;

  BOOL m_fValid;
  // What a request made by Create owns; its pointers above point here.
  std::unique_ptr<BYTE[]> m_pPayload;
  WSABUF m_Buffer = {};
  OVERLAPPED m_Overlapped = {};
  std::shared_ptr<tSendOutcome> m_pOutcome;
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
