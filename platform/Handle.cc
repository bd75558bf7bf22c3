#include "platform/Handle.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <unordered_set>

#include "platform/Errors.h"
#include "platform/HandleImpl.h"

namespace platform {
namespace {

// Every live handle, so that a stale or foreign pointer fails cleanly.
struct HandleTable {
  std::mutex mu;
  std::unordered_set<WaitObject*> live;  // guarded by mu
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

class Event final : public WaitObject {
 public:
  Event(int fd, ResetPolicy policy) : m_fd(fd), m_policy(policy) {}
  ~Event() override {
    std::lock_guard<std::mutex> lock(m_mu);
    ::close(m_fd);
  }

  void Set() {
    SignalRelease(this);
    std::lock_guard<std::mutex> lock(m_mu);
    std::uint64_t one = 1;
    ssize_t n = ::write(m_fd, &one, sizeof one);
    (void)n;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(m_mu);
    std::uint64_t v;
    ssize_t n = ::read(m_fd, &v, sizeof v);
    (void)n;
  }
  void Bind(int fd, long interest) {
    m_sockFd.store(interest == 0 ? -1 : fd);
    m_interest.store(interest);
  }

  int PollFds(pollfd* fds) override {
    fds[0] = {m_fd, POLLIN, 0};
    int sock = m_sockFd.load();
    if (sock < 0) return 1;
    long interest = m_interest.load();
    short ev = 0;
    if (interest & FD_READ) ev |= POLLIN;
    if (interest & FD_WRITE) ev |= POLLOUT;
    fds[1] = {sock, ev, 0};
    return 2;
  }

  bool Acquire(const pollfd* fds) override {
    if (m_sockFd.load() >= 0 && fds[1].revents != 0) return true;  // level-triggered
    if ((fds[0].revents & POLLIN) == 0) return false;
    if (m_policy == ResetPolicy::Manual) return true;
    std::uint64_t v;
    return ::read(m_fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v);  // lost a race: no
  }

 private:
  std::mutex m_mu;  // orders Set and Reset before the close
  const int m_fd;
  const ResetPolicy m_policy;
  std::atomic<int> m_sockFd{-1};
  std::atomic<long> m_interest{0};
};

Event* ToEvent(HANDLE h) { return dynamic_cast<Event*>(ToWaitObject(h)); }

}  // namespace

WaitObject* ToWaitObject(HANDLE h) {
  auto* obj = static_cast<WaitObject*>(h);
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  return t.live.count(obj) ? obj : nullptr;
}

HANDLE RegisterHandle(WaitObject* obj) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  t.live.insert(obj);
  return obj;
}

}  // namespace platform

using platform::Event;

HANDLE CreateEvent(platform::ResetPolicy policy, platform::InitialState state) {
  int fd = ::eventfd(state == platform::InitialState::Signaled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(platform::Win32FromErrno(errno));
    return nullptr;
  }
  return platform::RegisterHandle(new Event(fd, policy));
}

HANDLE WSACreateEvent() {
  return CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
}

BOOL SetEvent(HANDLE hEvent) {
  Event* ev = platform::ToEvent(hEvent);
  if (ev == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ev->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  Event* ev = platform::ToEvent(hEvent);
  if (ev == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ev->Reset();
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  auto* obj = static_cast<platform::WaitObject*>(hObject);
  {
    platform::HandleTable& t = platform::Table();
    std::lock_guard<std::mutex> lock(t.mu);
    if (t.live.erase(obj) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  delete obj;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hObject, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hObject, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr || bWaitAll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  platform::WaitObject* objs[MAXIMUM_WAIT_OBJECTS];
  pollfd fds[2 * MAXIMUM_WAIT_OBJECTS];
  int first[MAXIMUM_WAIT_OBJECTS + 1];
  int nfds = 0;
  for (DWORD i = 0; i < nCount; ++i) {
    objs[i] = platform::ToWaitObject(lpHandles[i]);
    if (objs[i] == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    first[i] = nfds;
    nfds += objs[i]->PollFds(&fds[nfds]);
  }
  first[nCount] = nfds;

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    int timeoutMs = -1;
    if (dwMilliseconds != INFINITE) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
    int r = ::poll(fds, static_cast<nfds_t>(nfds), timeoutMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      SetLastError(platform::Win32FromErrno(errno));
      return WAIT_FAILED;
    }
    if (r > 0) {
      for (DWORD i = 0; i < nCount; ++i) {
        bool ready = false;
        for (int k = first[i]; k < first[i + 1]; ++k) ready |= fds[k].revents != 0;
        if (ready && objs[i]->Acquire(&fds[first[i]])) {
          platform::WaitAcquire(objs[i]->SyncAddress());
          return WAIT_OBJECT_0 + i;
        }
      }
    }
    if (timeoutMs == 0) return WAIT_TIMEOUT;
    for (int k = 0; k < nfds; ++k) fds[k].revents = 0;
  }
}

int WSAEventSelect(int fd, HANDLE hEvent, long lNetworkEvents) {
  Event* ev = platform::ToEvent(hEvent);
  if (ev == nullptr) {
    SetLastError(WSAEINVAL);
    return -1;
  }
  ev->Bind(fd, lNetworkEvents);
  return 0;
}

int WSAEnumNetworkEvents(int fd, HANDLE hEvent, long* plNetworkEvents) {
  Event* ev = platform::ToEvent(hEvent);
  if (ev == nullptr || plNetworkEvents == nullptr) {
    SetLastError(WSAEINVAL);
    return -1;
  }
  pollfd p{fd, POLLIN | POLLOUT, 0};
  if (::poll(&p, 1, 0) < 0) {
    SetLastError(platform::WsaFromErrno(errno));
    return -1;
  }
  long ready = 0;
  if (p.revents & (POLLIN | POLLERR)) ready |= platform::FD_READ;
  if (p.revents & POLLOUT) ready |= platform::FD_WRITE;
  *plNetworkEvents = ready;
  ev->Reset();
  return 0;
}
