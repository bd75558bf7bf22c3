// Test helper: a thread standing in for PowerPoint's: it owns a frame window
// and runs a message loop; tests run code on it with Run (waits) or Post.
// Declare it after what its tasks use, so that its thread (and the windows
// made on it) end first.
#pragma once

#include <functional>
#include <future>
#include <thread>

#include "platform/Errors.h"
#include "platform/Thread.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace bridgetest {

constexpr UINT kRunTask = WM_APP + 1;
constexpr UINT kPostedTask = WM_APP + 2;

inline LRESULT FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunTask) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    return 0;
  }
  if (msg == kPostedTask) {
    std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
    (*task)();
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

// A top-level frame window on the calling thread.
inline HWND CreateFrame(const char* szTitle = "Frame") {
  static const bool registered = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = FrameProc;
    wc.lpszClassName = "TestFrameClass";
    return RegisterClass(&wc) != 0;
  }();
  (void)registered;
  return CreateWindowEx(0, "TestFrameClass", szTitle, WS_OVERLAPPED, 0, 0, 800, 600, nullptr,
                        nullptr, nullptr, nullptr);
}

class PptThread {
 public:
  PptThread() {
    std::promise<HWND> created;
    auto future = created.get_future();
    m_thread = std::thread([this, &created] {
      m_dwThreadId = GetCurrentThreadId();
      created.set_value(CreateFrame());
      MSG msg;
      while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
    });
    m_hFrame = future.get();
  }
  ~PptThread() { Stop(); }

  // Runs fn on the thread and waits for it.
  void Run(std::function<void()> fn) {
    SendMessage(m_hFrame, kRunTask, 0, reinterpret_cast<LPARAM>(&fn));
  }
  // Queues fn behind the messages already posted; while the queue is full,
  // waits for room.
  void Post(std::function<void()> fn) {
    auto* pTask = new std::function<void()>(std::move(fn));
    while (!PostMessage(m_hFrame, kPostedTask, 0, reinterpret_cast<LPARAM>(pTask))) {
      if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) {
        delete pTask;
        return;
      }
      Sleep(1);
    }
  }
  // Ends the loop; the thread's windows go with it.
  void Stop() {
    if (!m_thread.joinable()) return;
    Run([this] { DestroyWindow(m_hFrame); });
    m_thread.join();
  }
  HWND frame() const { return m_hFrame; }
  DWORD threadId() const { return m_dwThreadId; }

 private:
  HWND m_hFrame = nullptr;
  DWORD m_dwThreadId = 0;
  std::thread m_thread;
};

}  // namespace bridgetest
