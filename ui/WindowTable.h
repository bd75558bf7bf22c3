// Internal to ui/: the process-wide tables of window classes and windows.
// Not for use outside the stand-in.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/UiTypes.h"

namespace ui::detail {

// Built-in kinds of window: ordinary windows, dialogs and the dialog controls.
enum class WindowKind { Plain, Dialog, Static, Button, Edit, Progress };

struct tWindow {
  std::string className;
  std::string title;
  HWND hParent = nullptr;  // parent (child windows) or owner (popups)
  DWORD dwStyle = 0;
  DWORD dwExStyle = 0;
  RECT rect{};  // parent-relative for WS_CHILD windows, else screen coordinates
  WNDPROC proc = nullptr;
  DWORD dwThreadId = 0;  // the thread that created it and runs its procedure
  int nCtrlId = 0;
  LONG_PTR userData = 0;
  HINSTANCE hInstance = nullptr;
  WindowKind kind = WindowKind::Plain;
  DLGPROC dlgProc = nullptr;           // dialogs
  int nPos = 0, nMin = 0, nMax = 100;  // progress bars
  bool fDestroying = false;
};

class CWindowTable {
 public:
  static CWindowTable& Get();  // never destroyed, so usable during exit

  std::mutex m_mutex;
  std::map<std::uintptr_t, tWindow> m_windows;  // guarded by m_mutex
  std::uintptr_t m_nextId = 1;                  // guarded by m_mutex

  // REQUIRES: m_mutex held. Null when hwnd names no window.
  tWindow* Find(HWND hwnd);
};

inline HWND ToHwnd(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
inline std::uintptr_t FromHwnd(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

// Case-insensitive comparison, as window classes and titles compare.
bool EqualNoCase(const std::string& a, const std::string& b);

// Finds a class, registered or built in. Fills the procedure and kind.
bool LookUpClass(const std::string& name, WNDPROC* pProc, WindowKind* pKind);

// The procedures of the built-in classes (ui/Controls.cc).
LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT EditWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Tells the observer that the dialog holding hwnd (hwnd itself or its
// parent) changed. Call without m_mutex held.
void NotifyDialogChanged(HWND hwnd);

// Forgets every window of a thread that ends (no messages are sent).
void ForgetThreadWindows(DWORD dwThreadId);

// Message-queue hooks the window code needs (ui/MessageQueue.cc).
void EnsureCurrentThreadQueue();
void KillWindowTimers(HWND hwnd, DWORD dwThreadId);
// Appends the procedure of every live timer that has one.
void CollectTimerProcs(std::vector<TIMERPROC>* pProcs);

}  // namespace ui::detail
