#include "platform/Thread.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/HandleImpl.h"

namespace platform {
namespace {

// Shared by the handle and the running thread; whichever lets go last frees it.
// The thread is joinable until this goes, so that a forced end never meets a
// recycled thread id.
struct ThreadState {
  ~ThreadState() {
    if (started) {
      if (pthread_equal(thread, pthread_self())) {
        pthread_detach(thread);
      } else {
        pthread_join(thread, nullptr);
      }
    }
    ::close(exitFd);
  }
  void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
  // ThreadSanitizer loses the atomic's ordering on a cancelled thread's way
  // out, so the hand-over to the last owner is annotated as well.
  void Release() {
    SignalRelease(this);
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      WaitAcquire(this);
      delete this;
    }
  }
  std::atomic<int> refs{1};
  bool started = false;
  int exitFd = -1;  // readable once the thread has ended
  pthread_t thread{};
  std::atomic<pid_t> tid{0};
  std::atomic<DWORD> exitCode{STILL_ACTIVE};
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID param = nullptr;
};

class ThreadObject final : public WaitObject {
 public:
  explicit ThreadObject(ThreadState* state) : m_state(state) { m_state->AddRef(); }
  ~ThreadObject() override { m_state->Release(); }
  int PollFds(pollfd* fds) override {
    fds[0] = {m_state->exitFd, POLLIN, 0};
    return 1;
  }
  bool Acquire(const pollfd* fds) override { return (fds[0].revents & POLLIN) != 0; }
  void* SyncAddress() override { return m_state; }
  ThreadState& State() { return *m_state; }

 private:
  ThreadState* m_state;  // one reference
};

// Signals the end of the thread however it ends, a forced end included.
struct ExitSignal {
  ThreadState* state;
  ~ExitSignal() {
    SignalRelease(state);
    std::uint64_t one = 1;
    ssize_t n = ::write(state->exitFd, &one, sizeof one);
    (void)n;
  }
};

void* Trampoline(void* arg) {
  auto* state = static_cast<ThreadState*>(arg);  // the thread's own reference
  struct Unref {
    ThreadState* state;
    ~Unref() { state->Release(); }
  } unref{state};
  state->tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
  ExitSignal signal{state};
  state->exitCode.store(state->start(state->param));
  return nullptr;
}

ThreadObject* ToThread(HANDLE h) { return dynamic_cast<ThreadObject*>(ToWaitObject(h)); }

}  // namespace
}  // namespace platform

using platform::ThreadObject;
using platform::ThreadState;

HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID param, DWORD* lpThreadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* state = new ThreadState;  // the creator's reference, handed to the handle below
  state->exitFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (state->exitFd < 0) {
    SetLastError(platform::Win32FromErrno(errno));
    state->Release();
    return nullptr;
  }
  state->start = start;
  state->param = param;
  state->started = true;
  state->AddRef();  // the thread's reference
  int err = pthread_create(&state->thread, nullptr, platform::Trampoline, state);
  if (err != 0) {
    state->started = false;
    state->Release();
    state->Release();
    SetLastError(platform::Win32FromErrno(err));
    return nullptr;
  }
  // The id is the thread's first act. Waiting for it here means that a
  // SetThreadPriority right after creation finds the thread to act on.
  while (state->tid.load() == 0) std::this_thread::yield();
  if (lpThreadId != nullptr) *lpThreadId = static_cast<DWORD>(state->tid.load());
  HANDLE h = platform::RegisterHandle(new ThreadObject(state));
  state->Release();
  return h;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  ThreadObject* t = platform::ToThread(hThread);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Raising priority needs privileges; where refused the call still succeeds.
  pid_t tid = t->State().tid.load();
  if (tid != 0) {
    int nice = nPriority >= THREAD_PRIORITY_TIME_CRITICAL ? -10 : -2 * nPriority;
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
  }
  return TRUE;
}

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  ThreadObject* t = platform::ToThread(hThread);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ThreadState& s = t->State();
  if (pthread_equal(s.thread, pthread_self())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return TRUE;  // already ended
  DWORD expected = STILL_ACTIVE;
  s.exitCode.compare_exchange_strong(expected, dwExitCode);
  pthread_cancel(s.thread);
  WaitForSingleObject(hThread, INFINITE);
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE hThread, DWORD* lpExitCode) {
  ThreadObject* t = platform::ToThread(hThread);
  if (t == nullptr || lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = t->State().exitCode.load();
  return TRUE;
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

void Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
