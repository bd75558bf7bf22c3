// CMcastQueue<T>: a waitable first-in first-out queue of item pointers. Its
// manual-reset event is signalled exactly while items are queued; Get waits on
// it together with an optional stop request.
//
// Thread-safe: any number of producers, one consumer. The critical section
// guards the list and the event's state and is held only for a list operation
// and an event call. Whoever enqueues hands the item over; Get hands it to the
// consumer. The event changes only when the queue turns empty or non-empty,
// and a consumer that finds items queued takes them without waiting, so that
// items handed over in batches cost no system call each. Flush(TRUE)
// disposes of the items still queued through CMcastQueueItem<T>::Dispose
// (delete by default).
#pragma once

#include <deque>
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
  BOOL Enqueue(T* pItem) { return EnqueueAll(&pItem, 1); }

  // Appends nItems items in their order as one hand-over; FALSE (all stay with
  // the caller) when out of memory.
  BOOL EnqueueAll(T* const* ppItems, int nItems) {
    if (nItems <= 0) return TRUE;
    EnterCriticalSection(&m_cs);
    const bool fWasEmpty = m_Items.empty();
    int nAdded = 0;
    try {
      for (; nAdded < nItems; ++nAdded) m_Items.push_back(ppItems[nAdded]);
    } catch (const std::bad_alloc&) {
      while (nAdded-- > 0) m_Items.pop_back();
      LeaveCriticalSection(&m_cs);
      return FALSE;
    }
    if (fWasEmpty) SetEvent(m_hEvent);
    LeaveCriticalSection(&m_cs);
    return TRUE;
  }

  // Waits up to dwTimeoutMs for an item or a stop request of pStop (may be
  // null). 0 timed out, 1 stop requested, 2 an item taken into *ppItem, 3 error.
  // A queued item wins over a stop request signalled at the same time.
  int Get(T** ppItem, DWORD dwTimeoutMs, CReqReply* pStop) {
    if (!ORV_ASSERT(ppItem != NULL)) return kError;
    int nItems = 0;
    const int r = GetAll(ppItem, 1, &nItems, dwTimeoutMs, pStop);
    ORV_ASSERT(r != kItem || *ppItem != NULL);
    return r;
  }

  // As Get, but takes up to nMax items at once into ppItems, *pnItems of them
  // (at least one when the result is 2).
  int GetAll(T** ppItems, int nMax, int* pnItems, DWORD dwTimeoutMs, CReqReply* pStop) {
    if (!ORV_ASSERT(ppItems != NULL && pnItems != NULL && nMax > 0)) return kError;
    *pnItems = 0;
    if (TakeQueued(ppItems, nMax, pnItems)) return kItem;
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
    if (!ORV_ASSERT(TakeQueued(ppItems, nMax, pnItems))) return kError;
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
  // Takes up to nMax queued items; false when none is queued.
  bool TakeQueued(T** ppItems, int nMax, int* pnItems) {
    EnterCriticalSection(&m_cs);
    int n = 0;
    while (n < nMax && !m_Items.empty()) {
      ppItems[n++] = m_Items.front();
      m_Items.pop_front();
    }
    if (n > 0 && m_Items.empty()) ResetEvent(m_hEvent);
    LeaveCriticalSection(&m_cs);
    *pnItems = n;
    return n > 0;
  }

  std::deque<T*> m_Items;  // guarded by m_cs
  HANDLE m_hEvent;        // its state changes only under m_cs
  CRITICAL_SECTION m_cs;
};
