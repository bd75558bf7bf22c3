// Private to the platform library: the base of every waitable object.
#pragma once

#include <poll.h>

#include "platform/Win32Types.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVALO_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ORVALO_TSAN 1
#endif

#ifdef ORVALO_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace platform {

// ThreadSanitizer cannot see that a signal through an eventfd orders memory:
// signalling releases the object, a wait that returns for it acquires it.
inline void SignalRelease(void* obj) {
#ifdef ORVALO_TSAN
  __tsan_release(obj);
#else
  (void)obj;
#endif
}
inline void WaitAcquire(void* obj) {
#ifdef ORVALO_TSAN
  __tsan_acquire(obj);
#else
  (void)obj;
#endif
}

class WaitObject {
 public:
  virtual ~WaitObject() = default;
  // Fills up to two pollfds; returns how many.
  virtual int PollFds(pollfd* fds) = 0;
  // Called when poll reported any of this object's fds ready (revents given in
  // the same order). Returns true if the object is signalled for this waiter;
  // an auto-reset event consumes its signal here.
  virtual bool Acquire(const pollfd* fds) = 0;
  // The address whose release a successful wait acquires.
  virtual void* SyncAddress() { return this; }
};

// Returns the object behind a live handle, or nullptr.
WaitObject* ToWaitObject(HANDLE h);

// Makes `obj` a live handle; CloseHandle deletes it.
HANDLE RegisterHandle(WaitObject* obj);

}  // namespace platform
