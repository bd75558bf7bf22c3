// Critical sections (recursive, as on the original platform) and interlocked
// operations over std::atomic.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/Win32Types.h"

struct CRITICAL_SECTION {
  std::recursive_mutex mutex;
};

inline void InitializeCriticalSection(CRITICAL_SECTION*) {}
inline void DeleteCriticalSection(CRITICAL_SECTION*) {}
inline void EnterCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.lock(); }
inline void LeaveCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.unlock(); }
inline BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
  return cs->mutex.try_lock() ? TRUE : FALSE;
}

// Interlocked operations return what their Win32 namesakes return.
template <typename T>
T InterlockedIncrement(std::atomic<T>* p) { return p->fetch_add(1) + 1; }
template <typename T>
T InterlockedDecrement(std::atomic<T>* p) { return p->fetch_sub(1) - 1; }
template <typename T>
T InterlockedExchange(std::atomic<T>* p, T value) { return p->exchange(value); }
template <typename T>
T InterlockedExchangeAdd(std::atomic<T>* p, T value) { return p->fetch_add(value); }
// Returns the value before; stores `exchange` if it was `comparand`.
template <typename T>
T InterlockedCompareExchange(std::atomic<T>* p, T exchange, T comparand) {
  p->compare_exchange_strong(comparand, exchange);
  return comparand;
}
