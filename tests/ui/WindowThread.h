// Test helper: a window of a test class whose procedure is a std::function,
// and a thread that creates such a window and runs a message loop on it.
#pragma once

#include <functional>
#include <future>
#include <thread>

#include "platform/Thread.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace uitest {

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

inline LRESULT TestWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  if (msg == WM_DESTROY) PostQuitMessage(0);
  if (handler != nullptr && *handler) return (*handler)(hwnd, msg, wParam, lParam);
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

inline const char* TestClass() {
  static const char* name = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = TestWndProc;
    wc.lpszClassName = "UiTestWindow";
    RegisterClass(&wc);
    return "UiTestWindow";
  }();
  return name;
}

// Creates a top-level test window on the calling thread.
inline HWND CreateTestWindow(Handler* handler, const char* szTitle = "test") {
  HWND hwnd = CreateWindowEx(0, TestClass(), szTitle, WS_OVERLAPPED, 10, 20, 300, 200, nullptr,
                             nullptr, nullptr, nullptr);
  SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handler));
  return hwnd;
}

// A thread owning one test window and running GetMessage/DispatchMessage
// until the window is closed.
class WindowThread {
 public:
  explicit WindowThread(Handler handler) : m_handler(std::move(handler)) {
    std::promise<HWND> created;
    auto future = created.get_future();
    m_thread = std::thread([this, &created] {
      m_dwThreadId = GetCurrentThreadId();
      created.set_value(CreateTestWindow(&m_handler));
      MSG msg;
      while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
    });
    m_hwnd = future.get();
  }
  ~WindowThread() {
    PostMessage(m_hwnd, WM_CLOSE, 0, 0);
    m_thread.join();
  }
  HWND hwnd() const { return m_hwnd; }
  DWORD threadId() const { return m_dwThreadId; }

 private:
  Handler m_handler;
  HWND m_hwnd = nullptr;
  DWORD m_dwThreadId = 0;
  std::thread m_thread;
};

}  // namespace uitest
