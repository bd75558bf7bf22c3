// CMcastQueue<T>: a waitable first-in first-out queue of item pointers. Its
// manual-reset event is signalled exactly while items are queued; Get waits on
// it together with an optional stop request.
//
// Thread-safe: any number of producers, one consumer. The critical section
// guards the list and the event's state and is held only for a list operation
// and an event call. Whoever enqueues hands the item over; Get hands it to the
// consumer. Flush(TRUE) disposes of the items still queued through
// CMcastQueueItem<T>::Dispose (delete by default).
#pragma once

#include <list>
#include <new>

#include "mcast/ReqReply.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Sync.h"
#include "platform/Win32Types.h"

// How a flush with deletion gets rid of a queued item; item types whose
// storage the queue does not own specialise it.
template <typename T>
struct CMcastQueueItem {
  static void Dispose(T* pItem) { delete pItem; }
};

template <typename T>
class CMcastQueue {
 public:
  // Results of Get.
  static constexpr int kTimedOut = 0;
  static constexpr int kStopRequested = 1;
  static constexpr int kItem = 2;
  static constexpr int kError = 3;

  CMcastQueue() {
    m_hEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
    InitializeCriticalSection(&m_cs);
  }
  // Items still queued are left to their owners.
  ~CMcastQueue() {
    Flush(FALSE);
    if (m_hEvent != nullptr) CloseHandle(m_hEvent);
    DeleteCriticalSection(&m_cs);
  }
  CMcastQueue(const CMcastQueue&) = delete;
  CMcastQueue& operator=(const CMcastQueue&) = delete;

  // Appends the item; FALSE (item stays with the caller) when out of memory.
  BOOL Enqueue(T* pItem) {
    EnterCriticalSection(&m_cs);
    try {
      m_Items.push_back(pItem);
    } catch (const std::bad_alloc&) {
      LeaveCriticalSection(&m_cs);
      return FALSE;
    }
    SetEvent(m_hEvent);
    LeaveCriticalSection(&m_cs);
    return TRUE;
  }

  // Waits up to dwTimeoutMs for an item or a stop request of pStop (may be
  // null). 0 timed out, 1 stop requested, 2 an item taken into *ppItem, 3 error.
  // A queued item wins over a stop request signalled at the same time.
  int Get(T** ppItem, DWORD dwTimeoutMs, CReqReply* pStop) {
    if (!ORV_ASSERT(ppItem != NULL)) return kError;
    HANDLE handles[2] = {m_hEvent, nullptr};
    DWORD nHandles = 1;
    if (pStop != nullptr) handles[nHandles++] = pStop->GetReqHandle();
    DWORD r = WaitForMultipleObjects(nHandles, handles, FALSE, dwTimeoutMs);
    if (r == WAIT_TIMEOUT) return kTimedOut;
    if (r == WAIT_OBJECT_0 + 1 && nHandles == 2) return kStopRequested;
    if (r != WAIT_OBJECT_0) {
      ORV_ASSERT(FALSE);
      return kError;
    }
    EnterCriticalSection(&m_cs);
    if (!ORV_ASSERT(!m_Items.empty())) {
      LeaveCriticalSection(&m_cs);
      return kError;
    }
    *ppItem = m_Items.front();
    ORV_ASSERT(*ppItem != NULL);
    m_Items.pop_front();
    if (m_Items.empty()) ResetEvent(m_hEvent);
    LeaveCriticalSection(&m_cs);
    return kItem;
  }

  // Empties the queue, disposing of each item when fDelete (null entries are
  // skipped).
  void Flush(BOOL fDelete = TRUE) {
    EnterCriticalSection(&m_cs);
    while (!m_Items.empty()) {
      T* pItem = m_Items.front();
      m_Items.pop_front();
      if (fDelete && pItem != nullptr) CMcastQueueItem<T>::Dispose(pItem);
    }
    ResetEvent(m_hEvent);
    LeaveCriticalSection(&m_cs);
  }

  // The event that is signalled while items are queued.
  HANDLE GetEventHandle() const { return m_hEvent; }

 private:
  std::list<T*> m_Items;  // guarded by m_cs
  HANDLE m_hEvent;        // its state changes only under m_cs
  CRITICAL_SECTION m_cs;
};
