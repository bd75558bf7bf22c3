// CPPTMsgComm: the message bridge. Carries received packets, and a request to
// stop, from any thread onto PowerPoint's thread through a registered window
// message posted to a hidden child window of PowerPoint's frame.
//
// Threads: Init, Clear and OnMessage run on PowerPoint's thread (the thread
// that owns the bridge window); PostPacket and PostStop may come from any
// thread. Handlers and the stopper run on PowerPoint's thread, in posting
// order, with no lock held.
#pragma once

#include <atomic>
#include <list>
#include <memory>

#include "mcast/Lock.h"
#include "orvalo/PacketAndInfo.h"
#include "orvalo/PacketHandler.h"
#include "ui/UiTypes.h"

// The registered message "RERireZiruReadSocket", registered at library load.
extern const UINT g_uReadSocketMsg;

class CPPTMsgComm {
 public:
  // Message kinds, carried in wParam (lParam is always 0).
  static constexpr WPARAM kStop = 66;
  static constexpr WPARAM kPacket = 77;
  static constexpr DWORD kPostRetryMs = 10;
  // How long a post waits for room in a full queue before the message (and
  // its packet) is dropped.
  static constexpr DWORD kPostGiveUpMs = 5000;

  CPPTMsgComm();
  // Clears the queue and destroys the bridge window (on its thread).
  ~CPPTMsgComm();
  CPPTMsgComm(const CPPTMsgComm&) = delete;
  CPPTMsgComm& operator=(const CPPTMsgComm&) = delete;

  // Stores the parent and the stopper and creates the bridge window as a child
  // of PPhwnd on the calling thread, if it does not exist yet. FALSE for a
  // null parent or stopper, or when the class or window cannot be made. A
  // later Init replaces parent and stopper and keeps the window, unless it
  // went with its parent.
  BOOL Init(HWND PPhwnd, CStopper* pStopper);

  // Queues a private copy of the packet for pPctHdlr and posts a packet
  // message. FALSE (nothing posted) before Init, for a null packet or zero
  // length, when memory runs out, or when the bridge window is gone. While
  // PowerPoint's queue is full, retries every 10 ms, but gives up (dropping
  // the packet, FALSE) once hCancel (an event, may be null) is signalled,
  // after kPostGiveUpMs, or at once on PowerPoint's own thread, whose queue
  // cannot drain while it waits here.
  BOOL PostPacket(CPacketHandler* pPctHdlr, const void* pPacket, DWORD dwLen, DWORD dwLowWater,
                  DWORD dwSeq, HANDLE hCancel = nullptr);
  // Posts a stop message; FALSE before Init, when the window is gone, or
  // when the queue stays full as for PostPacket.
  BOOL PostStop();

  // Drops every queued packet. Their messages still arrive and do nothing.
  void Clear();
  // Drops pStopper if it is the bridge's stopper, so that a stop message
  // that arrives later cannot reach an engine that is gone. PowerPoint's
  // thread.
  void ForgetStopper(CStopper* pStopper);

  // The bridge window's handling of the registered message: 66 calls the
  // stopper (1), 77 hands one queued packet to its handler (1 on success or
  // when none is queued, else 0); any other kind gives 0.
  LRESULT OnMessage(WPARAM wParam, LPARAM lParam);

  HWND GetHwnd() const { return m_hWnd.load(); }

 private:
  struct tQueueEntry {
    CPacketHandler* pPctHdlr;              // not owned
    std::unique_ptr<CPacketAndInfo> pPAI;  // owned: goes with the entry
  };

  BOOL Post(WPARAM kind, CPacketHandler* pPctHdlr, const void* pPacket, DWORD dwLen,
            DWORD dwLowWater, DWORD dwSeq, HANDLE hCancel);
  // Posts the message, retrying while the queue is full as PostPacket says.
  BOOL PostWithRetry(HWND hWnd, WPARAM kind, HANDLE hCancel);
  void Push(tQueueEntry* pEntry);
  tQueueEntry* Pop();
  void Remove(tQueueEntry* pEntry);

  static LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  std::list<std::unique_ptr<tQueueEntry>> m_queue;  // guarded by m_lock
  std::atomic<HWND> m_hWnd{nullptr};                // written on PowerPoint's thread, read anywhere
  HWND m_hPPhwnd = nullptr;                         // PowerPoint's thread only
  CLock m_lock;
  std::atomic<BOOL> m_fInitialized{FALSE};  // written on PowerPoint's thread, read anywhere
  CStopper* m_pStopper = nullptr;           // PowerPoint's thread only; not owned
  bool m_fClassRegistered = false;          // PowerPoint's thread only
};

// The library's one bridge.
extern CPPTMsgComm g_PPTMsgComm;
