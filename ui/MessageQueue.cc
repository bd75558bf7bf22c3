// The per-thread message queues, SendMessage across threads, timers and the
// registered-message table.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Errors.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "ui/Message.h"
#include "ui/Window.h"
#include "ui/WindowTable.h"

namespace ui::detail {
namespace {

using Clock = std::chrono::steady_clock;

class CQueue;

// A message sent from another thread, waiting for its result.
struct tSentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::shared_ptr<CQueue> sender;
  LRESULT result = 0;  // guarded by sender->m_mutex
  bool fDone = false;  // guarded by sender->m_mutex
};

struct tTimer {
  HWND hwnd;
  UINT_PTR id;
  Clock::duration period;
  Clock::time_point due;
  TIMERPROC proc;
};

class CQueue {
 public:
  explicit CQueue(DWORD dwThreadId) : m_dwThreadId(dwThreadId) {}
  const DWORD m_dwThreadId;

  std::mutex m_mutex;
  std::condition_variable m_cv;                      // signalled on any change below
  std::deque<MSG> m_posted;                          // guarded by m_mutex
  std::deque<std::shared_ptr<tSentMessage>> m_sent;  // incoming; guarded by m_mutex
  std::vector<tTimer> m_timers;                      // guarded by m_mutex
  UINT_PTR m_nextTimerId = 0x7F00;                   // windowless timers; guarded by m_mutex
  bool m_fQuit = false;                              // guarded by m_mutex
  int m_nQuitCode = 0;                               // guarded by m_mutex
  bool m_fDead = false;                              // thread ended; guarded by m_mutex
};

class CQueueRegistry {
 public:
  static CQueueRegistry& Get() {
    static auto* p = new CQueueRegistry;
    return *p;
  }
  std::shared_ptr<CQueue> Find(DWORD dwThreadId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_queues.find(dwThreadId);
    return it == m_queues.end() ? nullptr : it->second;
  }
  std::mutex m_mutex;
  std::map<DWORD, std::shared_ptr<CQueue>> m_queues;  // guarded by m_mutex
};

void Complete(const std::shared_ptr<tSentMessage>& s, LRESULT result) {
  {
    std::lock_guard<std::mutex> lock(s->sender->m_mutex);
    s->result = result;
    s->fDone = true;
  }
  s->sender->m_cv.notify_all();
}

// Ends with the thread: forgets its windows and releases waiting senders.
class CQueueOwner {
 public:
  std::shared_ptr<CQueue> m_queue;
  ~CQueueOwner() {
    if (!m_queue) return;
    std::deque<std::shared_ptr<tSentMessage>> pending;
    {
      std::lock_guard<std::mutex> lock(m_queue->m_mutex);
      m_queue->m_fDead = true;
      pending.swap(m_queue->m_sent);
    }
    for (const auto& s : pending) Complete(s, 0);
    {
      CQueueRegistry& registry = CQueueRegistry::Get();
      std::lock_guard<std::mutex> lock(registry.m_mutex);
      registry.m_queues.erase(m_queue->m_dwThreadId);
    }
    ForgetThreadWindows(m_queue->m_dwThreadId);
  }
};

thread_local CQueueOwner t_queueOwner;

std::shared_ptr<CQueue> CurrentQueue() {
  if (!t_queueOwner.m_queue) {
    auto queue = std::make_shared<CQueue>(GetCurrentThreadId());
    CQueueRegistry& registry = CQueueRegistry::Get();
    std::lock_guard<std::mutex> lock(registry.m_mutex);
    registry.m_queues[queue->m_dwThreadId] = queue;
    t_queueOwner.m_queue = queue;
  }
  return t_queueOwner.m_queue;
}

// The procedure and thread of a window; false when it is gone.
bool WindowTarget(HWND hwnd, WNDPROC* pProc, DWORD* pThreadId) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hwnd);
  if (w == nullptr) return false;
  *pProc = w->proc;
  *pThreadId = w->dwThreadId;
  return true;
}

void Deliver(const std::shared_ptr<tSentMessage>& s) {
  WNDPROC proc;
  DWORD dwThreadId;
  LRESULT result = 0;
  if (WindowTarget(s->hwnd, &proc, &dwThreadId)) {
    result = proc(s->hwnd, s->msg, s->wParam, s->lParam);
  }
  Complete(s, result);
}

bool PostTo(const std::shared_ptr<CQueue>& queue, const MSG& msg) {
  {
    std::lock_guard<std::mutex> lock(queue->m_mutex);
    if (queue->m_fDead) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return false;
    }
    if (queue->m_posted.size() >= kPostedMessageLimit) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    queue->m_posted.push_back(msg);
  }
  queue->m_cv.notify_all();
  return true;
}

bool Matches(const MSG& msg, HWND hwnd, UINT uMin, UINT uMax) {
  if (hwnd != nullptr && msg.hwnd != hwnd) return false;
  if (uMin == 0 && uMax == 0) return true;
  return msg.message >= uMin && msg.message <= uMax;
}

MSG MakeMsg(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return MSG{hwnd, message, wParam, lParam, GetTickCount(), POINT{0, 0}};
}

// The message taking of GetMessage (fWait) and PeekMessage.
bool TakeMessage(MSG* pMsg, HWND hwnd, UINT uMin, UINT uMax, bool fRemove, bool fWait) {
  std::shared_ptr<CQueue> q = CurrentQueue();
  std::unique_lock<std::mutex> lock(q->m_mutex);
  for (;;) {
    if (!q->m_sent.empty()) {
      std::shared_ptr<tSentMessage> s = q->m_sent.front();
      q->m_sent.pop_front();
      lock.unlock();
      Deliver(s);
      lock.lock();
      continue;
    }
    for (auto it = q->m_posted.begin(); it != q->m_posted.end(); ++it) {
      if (!Matches(*it, hwnd, uMin, uMax)) continue;
      *pMsg = *it;
      if (fRemove) q->m_posted.erase(it);
      return true;
    }
    if (q->m_fQuit) {
      *pMsg = MakeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(q->m_nQuitCode), 0);
      if (fRemove) q->m_fQuit = false;
      return true;
    }
    const Clock::time_point now = Clock::now();
    tTimer* next = nullptr;  // the earliest timer the filter admits
    for (tTimer& t : q->m_timers) {
      MSG m = MakeMsg(t.hwnd, WM_TIMER, t.id, 0);
      if (Matches(m, hwnd, uMin, uMax) && (next == nullptr || t.due < next->due)) next = &t;
    }
    if (next != nullptr && next->due <= now) {
      *pMsg = MakeMsg(next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc));
      if (fRemove) next->due = now + next->period;
      return true;
    }
    if (!fWait) return false;
    if (next != nullptr) {
      q->m_cv.wait_until(lock, next->due);
    } else {
      q->m_cv.wait(lock);
    }
  }
}

}  // namespace

void EnsureCurrentThreadQueue() { CurrentQueue(); }

void CollectTimerProcs(std::vector<TIMERPROC>* pProcs) {
  std::vector<std::shared_ptr<CQueue>> queues;
  {
    CQueueRegistry& registry = CQueueRegistry::Get();
    std::lock_guard<std::mutex> lock(registry.m_mutex);
    for (const auto& [id, q] : registry.m_queues) queues.push_back(q);
  }
  for (const auto& q : queues) {
    std::lock_guard<std::mutex> lock(q->m_mutex);
    for (const tTimer& t : q->m_timers) {
      if (t.proc != nullptr) pProcs->push_back(t.proc);
    }
  }
}

void KillWindowTimers(HWND hwnd, DWORD dwThreadId) {
  std::shared_ptr<CQueue> q = CQueueRegistry::Get().Find(dwThreadId);
  if (!q) return;
  std::lock_guard<std::mutex> lock(q->m_mutex);
  std::erase_if(q->m_timers, [&](const tTimer& t) { return t.hwnd == hwnd; });
}

}  // namespace ui::detail

using namespace ui::detail;  // NOLINT: this file implements the detail layer

BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<CQueue> queue;
  if (hWnd == nullptr) {
    queue = CurrentQueue();
  } else {
    WNDPROC proc;
    DWORD dwThreadId;
    if (!WindowTarget(hWnd, &proc, &dwThreadId) ||
        !(queue = CQueueRegistry::Get().Find(dwThreadId))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
  }
  return PostTo(queue, MakeMsg(hWnd, Msg, wParam, lParam)) ? TRUE : FALSE;
}

BOOL PostThreadMessage(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<CQueue> queue = CQueueRegistry::Get().Find(idThread);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return PostTo(queue, MakeMsg(nullptr, Msg, wParam, lParam)) ? TRUE : FALSE;
}

LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  DWORD dwThreadId;
  if (!WindowTarget(hWnd, &proc, &dwThreadId)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (dwThreadId == GetCurrentThreadId()) return proc(hWnd, Msg, wParam, lParam);

  std::shared_ptr<CQueue> target = CQueueRegistry::Get().Find(dwThreadId);
  if (!target) return 0;
  std::shared_ptr<CQueue> me = CurrentQueue();
  auto s = std::make_shared<tSentMessage>(tSentMessage{hWnd, Msg, wParam, lParam, me});
  {
    std::lock_guard<std::mutex> lock(target->m_mutex);
    if (target->m_fDead) return 0;
    target->m_sent.push_back(s);
  }
  target->m_cv.notify_all();
  // Wait for the result, handling what is sent to this thread meanwhile.
  std::unique_lock<std::mutex> lock(me->m_mutex);
  while (!s->fDone) {
    if (!me->m_sent.empty()) {
      std::shared_ptr<tSentMessage> incoming = me->m_sent.front();
      me->m_sent.pop_front();
      lock.unlock();
      Deliver(incoming);
      lock.lock();
      continue;
    }
    me->m_cv.wait(lock);
  }
  return s->result;
}

BOOL GetMessage(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) return -1;
  if (hWnd != nullptr && GetWindowThreadProcessId(hWnd, nullptr) != GetCurrentThreadId()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, true);
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) return FALSE;
  return TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0,
                     false)
             ? TRUE
             : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessage(const MSG* lpMsg) {
  if (lpMsg == nullptr) return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER,
                                               static_cast<UINT_PTR>(lpMsg->wParam), lpMsg->time);
    return 0;
  }
  WNDPROC proc;
  DWORD dwThreadId;
  if (lpMsg->hwnd == nullptr || !WindowTarget(lpMsg->hwnd, &proc, &dwThreadId)) return 0;
  return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void PostQuitMessage(int nExitCode) {
  std::shared_ptr<CQueue> q = CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q->m_mutex);
    q->m_fQuit = true;
    q->m_nQuitCode = nExitCode;
  }
  q->m_cv.notify_all();
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  std::shared_ptr<CQueue> q;
  if (hWnd == nullptr) {
    q = CurrentQueue();
  } else {
    WNDPROC proc;
    DWORD dwThreadId;
    if (!WindowTarget(hWnd, &proc, &dwThreadId) || !(q = CQueueRegistry::Get().Find(dwThreadId))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  const auto period = std::chrono::milliseconds(std::max(uElapse, USER_TIMER_MINIMUM));
  UINT_PTR id;
  {
    std::lock_guard<std::mutex> lock(q->m_mutex);
    id = hWnd == nullptr ? q->m_nextTimerId++ : (nIDEvent != 0 ? nIDEvent : 1);
    std::erase_if(q->m_timers, [&](const tTimer& t) { return t.hwnd == hWnd && t.id == id; });
    q->m_timers.push_back(tTimer{hWnd, id, period, Clock::now() + period, lpTimerFunc});
  }
  q->m_cv.notify_all();
  return id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  std::shared_ptr<CQueue> q;
  if (hWnd == nullptr) {
    q = CurrentQueue();
  } else {
    q = CQueueRegistry::Get().Find(GetWindowThreadProcessId(hWnd, nullptr));
  }
  if (!q) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(q->m_mutex);
  size_t n = std::erase_if(q->m_timers,
                           [&](const tTimer& t) { return t.hwnd == hWnd && t.id == uIDEvent; });
  return n > 0 ? TRUE : FALSE;
}

UINT RegisterWindowMessage(LPCSTR lpString) {
  if (lpString == nullptr || lpString[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  static auto* mutex = new std::mutex;
  static auto* names = new std::vector<std::string>;  // index + 0xC000; guarded by *mutex
  std::lock_guard<std::mutex> lock(*mutex);
  for (size_t i = 0; i < names->size(); ++i) {
    if (EqualNoCase((*names)[i], lpString)) return static_cast<UINT>(kFirstRegisteredMessage + i);
  }
  if (kFirstRegisteredMessage + names->size() > kLastRegisteredMessage) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return 0;
  }
  names->push_back(lpString);
  return static_cast<UINT>(kFirstRegisteredMessage + names->size() - 1);
}
