// CSlideQueue: a presenter channel's send queue. It decides what the
// channel's send thread puts on the wire next (a slice of a slide file, a
// batch of pen points or a state packet) and with which Korin epoch, stamps
// every packet with the queue's current show state, and posts the channel's
// progress.
//
// Threads: the host's thread feeds the queue (AddRequest, AddCtrl, SetSlide,
// RemoveRequests, the Clear calls); the channel's send thread alone calls
// GetNextPacket. The base's request/reply pair is the stop handshake with that
// thread: the owner requests, the thread sees GetNextPacket return 1, replies
// and ends.
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "mcast/Lock.h"
#include "mcast/ReqReply.h"
#include "orvalo/Request.h"
#include "orvalo/SlidePacket.h"
#include "orvalo/SlideProgress.h"
#include "platform/Win32Types.h"

class CSlideQueue : public CReqReply {
 public:
  static constexpr DWORD kHeartbeatMs = 500;
  static constexpr DWORD kDoneHeartbeatMs = 75;
  static constexpr DWORD kMaxCtrlBacklog = 10;

  // pProgress (may be null) is the channel's progress display, owned.
  explicit CSlideQueue(std::unique_ptr<ISlideProgress> pProgress = nullptr);
  ~CSlideQueue();

  // Queues a copy of *pReq. fNext announces its slide as the next slide
  // (replacing the data of a previously announced one); otherwise its slide
  // becomes the current slide. FALSE, with nothing queued, when the queue has
  // no data event, the send thread has ended, or the copy cannot be made.
  BOOL AddRequest(const CRequest* pReq, BOOL fNext);
  // Queues a copy of a state. A done state drops everything queued and makes
  // heartbeats come every 75 ms. FALSE as AddRequest.
  BOOL AddCtrl(const tSlideInfo* pCtrl);
  // Makes n the channel's current slide and moves the epochs: to the
  // announced next slide by 1 (2 if its data had not begun), anywhere else by
  // 2 with all queued data dropped. Always TRUE.
  BOOL SetSlide(DWORD dwSlide);
  // Drops queued data of slide n (and, if any went, its control entries).
  BOOL RemoveRequests(DWORD dwSlide);
  void ClearData();
  void ClearCtrl();
  void Clear();

  // Send thread: waits for input at most one heartbeat interval, then fills
  // pPacket (dwMaxLen >= 44) with the next packet. 0: *pdwLenUsed bytes to send
  // with *pEpoch and *pValidEpochs, reliably if *pfReliable. 1: the thread must end.
  DWORD GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed, DWORD* pEpoch,
                      DWORD* pValidEpochs, BOOL* pfReliable, DWORD dwRepairsQueued);
  // A 36-byte unreliable "Heartbeat" carrying the current state.
  void MakeStatePacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed, BOOL* pfReliable);

  // Observers for the owner and tests (each takes the lock).
  DWORD GetEpoch();
  DWORD GetValidEpochs();
  DWORD GetSlide();
  DWORD GetNextSlide();
  tSlideInfo GetCurrentState();
  std::size_t GetDataCount();
  std::size_t GetCtrlCount();
  HANDLE GetDataEvent() const { return m_hDataEvent; }
  DWORD GetHeartbeatMs() const { return m_dwHeartbeatMs.load(std::memory_order_relaxed); }

 private:
  BOOL CanQueue();
  DWORD NextDataPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLenUsed, DWORD* pEpoch,
                       DWORD* pValidEpochs, BOOL* pfReliable);
  void PostPercents();

  std::deque<std::unique_ptr<CRequest>> m_DataList;  // guarded by m_lock
  std::deque<tSlideInfo> m_CtrlList;                 // guarded by m_lock
  // Manual-reset; set while a list may hold something. Set and reset under m_lock.
  HANDLE m_hDataEvent = NULL;
  CLock m_lock;
  // All below guarded by m_lock.
  tSlideInfo m_Current{.dwScreenState = 3, .dwSlide = 1, .dwTime = 0, .wStep = 0, .fDone = 0};
  DWORD m_dwEpoch = 63;
  DWORD m_dwValidEpochs = 1;
  DWORD m_dwSlide = 0;
  DWORD m_dwNextSlide = 0;  // 0 = none announced
  BOOL m_fNextStarted = FALSE;
  int m_nPercentThis = 0;
  int m_nPercentNext = 0;
  // Written by the host's thread, read by the send thread without the lock.
  std::atomic<DWORD> m_dwHeartbeatMs{kHeartbeatMs};
  // Posted to from the send thread only; set at construction.
  std::unique_ptr<ISlideProgress> m_pProgress;
};
