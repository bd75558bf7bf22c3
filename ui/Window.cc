#include "ui/Window.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/Errors.h"
#include "platform/ModuleUse.h"
#include "platform/Thread.h"
#include "ui/Dialog.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"
#include "ui/WindowTable.h"

namespace ui::detail {
namespace {

struct tClass {
  WNDPROC proc;
  ATOM atom;
};

class CClassTable {
 public:
  static CClassTable& Get() {
    static auto* p = new CClassTable;
    return *p;
  }
  std::mutex m_mutex;
  std::map<std::string, tClass> m_classes;  // lower-case name; guarded by m_mutex
  ATOM m_nextAtom = 0xC000;                 // guarded by m_mutex
};

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

constexpr int kDefaultX = 100, kDefaultY = 100, kDefaultCx = 800, kDefaultCy = 600;

// Copies `text` into a caller's buffer of nMaxCount (> 0) characters, cut to
// fit and NUL-terminated; the characters copied.
int CopyText(const std::string& text, LPSTR lpBuf, int nMaxCount) {
  size_t n = std::min(text.size(), static_cast<size_t>(nMaxCount - 1));
  std::memcpy(lpBuf, text.data(), n);
  lpBuf[n] = '\0';
  return static_cast<int>(n);
}

// REQUIRES: the table's lock held. hWnd's record, or null with
// ERROR_INVALID_WINDOW_HANDLE as the last error.
tWindow* FindOrFail(CWindowTable& table, HWND hWnd) {
  tWindow* w = table.Find(hWnd);
  if (w == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

// Copies hWnd's title or class name (the member `field`) as CopyText does:
// the characters copied, or -1 with the buffer empty when hWnd names no
// window.
int CopyWindowString(HWND hWnd, std::string tWindow::*field, LPSTR lpBuf, int nMaxCount) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  if (w == nullptr) {
    lpBuf[0] = '\0';
    return -1;
  }
  return CopyText(w->*field, lpBuf, nMaxCount);
}

// Whether a window, dialog or timer procedure of hModule lives. The
// procedures are gathered under the tables' locks and tested without them,
// since the test asks the loader, which may itself be running a module's
// constructors that create windows.
bool ModuleHasLiveProcedures(HMODULE hModule) {
  std::vector<const void*> procs;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    for (const auto& [id, w] : table.m_windows) {
      if (w.kind == WindowKind::Plain && w.proc != nullptr)
        procs.push_back(reinterpret_cast<const void*>(w.proc));
      if (w.dlgProc != nullptr) procs.push_back(reinterpret_cast<const void*>(w.dlgProc));
    }
  }
  std::vector<TIMERPROC> timers;
  CollectTimerProcs(&timers);
  for (TIMERPROC p : timers) procs.push_back(reinterpret_cast<const void*>(p));
  std::sort(procs.begin(), procs.end());
  procs.erase(std::unique(procs.begin(), procs.end()), procs.end());
  return std::any_of(procs.begin(), procs.end(),
                     [&](const void* p) { return platform::IsAddressInModule(p, hModule); });
}

[[maybe_unused]] const bool g_fModuleQueryAdded =
    (platform::AddModuleUseQuery(&ModuleHasLiveProcedures), true);

}  // namespace

CWindowTable& CWindowTable::Get() {
  static auto* p = new CWindowTable;
  return *p;
}

tWindow* CWindowTable::Find(HWND hwnd) {
  auto it = m_windows.find(FromHwnd(hwnd));
  return it == m_windows.end() ? nullptr : &it->second;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool LookUpClass(const std::string& name, WNDPROC* pProc, WindowKind* pKind) {
  struct Builtin {
    const char* szName;
    WNDPROC proc;
    WindowKind kind;
  };
  static const Builtin kBuiltins[] = {
      {kDialogClass, DialogWndProc, WindowKind::Dialog},
      {kStaticClass, StaticWndProc, WindowKind::Static},
      {kButtonClass, ButtonWndProc, WindowKind::Button},
      {kEditClass, EditWndProc, WindowKind::Edit},
      {kProgressClass, ProgressWndProc, WindowKind::Progress},
  };
  for (const Builtin& b : kBuiltins) {
    if (EqualNoCase(name, b.szName)) {
      *pProc = b.proc;
      *pKind = b.kind;
      return true;
    }
  }
  CClassTable& classes = CClassTable::Get();
  std::lock_guard<std::mutex> lock(classes.m_mutex);
  auto it = classes.m_classes.find(Lower(name));
  if (it == classes.m_classes.end()) return false;
  *pProc = it->second.proc;
  *pKind = WindowKind::Plain;
  return true;
}

void NotifyDialogChanged(HWND hwnd) {
  HWND hDlg = nullptr;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = table.Find(hwnd);
    if (w == nullptr) return;
    if (w->kind == WindowKind::Dialog) {
      hDlg = hwnd;
    } else if (tWindow* p = table.Find(w->hParent); p != nullptr && p->kind == WindowKind::Dialog) {
      hDlg = w->hParent;
    }
  }
  if (hDlg == nullptr) return;
  if (auto observer = GetUiObserver()) observer->OnDialogChanged(hDlg);
}

void ForgetThreadWindows(DWORD dwThreadId) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  std::erase_if(table.m_windows,
                [&](const auto& entry) { return entry.second.dwThreadId == dwThreadId; });
}

}  // namespace ui::detail

using ui::detail::CWindowTable;
using ui::detail::tWindow;

ATOM RegisterClass(const WNDCLASS* lpWndClass) {
  if (lpWndClass == nullptr || lpWndClass->lpszClassName == nullptr ||
      lpWndClass->lpszClassName[0] == '\0' || lpWndClass->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WNDPROC proc;
  ui::detail::WindowKind kind;
  if (ui::detail::LookUpClass(lpWndClass->lpszClassName, &proc, &kind)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto& classes = ui::detail::CClassTable::Get();
  std::lock_guard<std::mutex> lock(classes.m_mutex);
  auto [it, inserted] = classes.m_classes.try_emplace(
      ui::detail::Lower(lpWndClass->lpszClassName),
      ui::detail::tClass{lpWndClass->lpfnWndProc, classes.m_nextAtom});
  if (!inserted) {  // registered by another thread meanwhile
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return classes.m_nextAtom++;
}

BOOL UnregisterClass(LPCSTR lpClassName, HINSTANCE) {
  if (lpClassName == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  // Both tables' locks, the window table's first (nothing takes them the
  // other way round), so that the check and the removal are one step.
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> windowsLock(table.m_mutex);
  auto& classes = ui::detail::CClassTable::Get();
  std::lock_guard<std::mutex> lock(classes.m_mutex);
  auto it = classes.m_classes.find(ui::detail::Lower(lpClassName));
  if (it == classes.m_classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (const auto& [id, w] : table.m_windows) {
    if (ui::detail::EqualNoCase(w.className, lpClassName)) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  classes.m_classes.erase(it);
  return TRUE;
}

HICON LoadIcon(HINSTANCE, LPCSTR lpIconName) {
  return reinterpret_cast<HICON>(const_cast<char*>(lpIconName));
}

HCURSOR LoadCursor(HINSTANCE, LPCSTR lpCursorName) {
  return reinterpret_cast<HCURSOR>(const_cast<char*>(lpCursorName));
}

HWND CreateWindowEx(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int x,
                    int y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                    HINSTANCE hInstance, LPVOID lpParam) {
  tWindow w;
  w.className = lpClassName != nullptr ? lpClassName : "";
  if (!ui::detail::LookUpClass(w.className, &w.proc, &w.kind)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  const bool fChild = (dwStyle & WS_CHILD) != 0;
  if (fChild && hWndParent == nullptr) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  const bool fOverlapped = !fChild && (dwStyle & WS_POPUP) == 0;
  if (x == CW_USEDEFAULT) {
    x = fOverlapped ? ui::detail::kDefaultX : 0;
    y = fOverlapped ? ui::detail::kDefaultY : 0;
  }
  if (nWidth == CW_USEDEFAULT) {
    nWidth = fOverlapped ? ui::detail::kDefaultCx : 0;
    nHeight = fOverlapped ? ui::detail::kDefaultCy : 0;
  }
  w.title = lpWindowName != nullptr ? lpWindowName : "";
  w.hParent = hWndParent;
  w.dwStyle = dwStyle;
  w.dwExStyle = dwExStyle;
  w.rect = RECT{x, y, x + nWidth, y + nHeight};
  w.dwThreadId = GetCurrentThreadId();
  w.nCtrlId = fChild ? static_cast<int>(reinterpret_cast<std::intptr_t>(hMenu)) : 0;
  w.hInstance = hInstance;
  ui::detail::EnsureCurrentThreadQueue();

  HWND hwnd;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    if (hWndParent != nullptr && table.Find(hWndParent) == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    hwnd = ui::detail::ToHwnd(table.m_nextId++);
    table.m_windows.emplace(ui::detail::FromHwnd(hwnd), std::move(w));
  }
  CREATESTRUCT cs{lpParam,
                  hInstance,
                  hMenu,
                  hWndParent,
                  nHeight,
                  nWidth,
                  y,
                  x,
                  static_cast<LONG>(dwStyle),
                  lpWindowName,
                  lpClassName,
                  dwExStyle};
  if (SendMessage(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  bool fDialog;
  DWORD dwThreadId;
  {
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = ui::detail::FindOrFail(table, hWnd);
    if (w == nullptr) return FALSE;
    if (w->dwThreadId != GetCurrentThreadId()) {
      SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
      return FALSE;
    }
    if (w->fDestroying) return TRUE;  // a WM_DESTROY handler destroying it again
    w->fDestroying = true;
    fDialog = w->kind == ui::detail::WindowKind::Dialog;
    dwThreadId = w->dwThreadId;
  }
  if (fDialog) {
    if (auto observer = ui::GetUiObserver()) observer->OnDialogDestroyed(hWnd);
  }
  SendMessage(hWnd, WM_DESTROY, 0, 0);
  // Children and owned windows go with it.
  std::vector<HWND> dependents;
  {
    std::lock_guard<std::mutex> lock(table.m_mutex);
    for (const auto& [id, w] : table.m_windows) {
      if (w.hParent == hWnd) dependents.push_back(ui::detail::ToHwnd(id));
    }
  }
  for (HWND h : dependents) DestroyWindow(h);
  ui::detail::KillWindowTimers(hWnd, dwThreadId);
  std::lock_guard<std::mutex> lock(table.m_mutex);
  table.m_windows.erase(ui::detail::FromHwnd(hWnd));
  return TRUE;
}

LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_SETTEXT: {
      {
        CWindowTable& table = CWindowTable::Get();
        std::lock_guard<std::mutex> lock(table.m_mutex);
        tWindow* w = table.Find(hWnd);
        if (w == nullptr) return FALSE;
        const char* sz = reinterpret_cast<LPCSTR>(lParam);
        w->title = sz != nullptr ? sz : "";
      }
      ui::detail::NotifyDialogChanged(hWnd);
      return TRUE;
    }
    case WM_GETTEXT:
      return GetWindowText(hWnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLength(hWnd);
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    default:
      return 0;
  }
}

LRESULT CallWindowProc(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

BOOL IsWindow(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  return table.Find(hWnd) != nullptr ? TRUE : FALSE;
}

HWND GetParent(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  return w != nullptr ? w->hParent : nullptr;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  if (lpdwProcessId != nullptr) *lpdwProcessId = 1;
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  return w != nullptr ? w->dwThreadId : 0;
}

HWND FindWindow(LPCSTR lpClassName, LPCSTR lpWindowName) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  for (auto it = table.m_windows.rbegin(); it != table.m_windows.rend(); ++it) {
    const tWindow& w = it->second;
    if ((w.dwStyle & WS_CHILD) != 0 || w.fDestroying) continue;
    if (lpClassName != nullptr && !ui::detail::EqualNoCase(w.className, lpClassName)) continue;
    if (lpWindowName != nullptr && !ui::detail::EqualNoCase(w.title, lpWindowName)) continue;
    return ui::detail::ToHwnd(it->first);
  }
  return nullptr;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT uFlags) {
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = ui::detail::FindOrFail(table, hWnd);
    if (w == nullptr) return FALSE;
    RECT& r = w->rect;
    if ((uFlags & SWP_NOSIZE) == 0) {
      r.right = r.left + cx;
      r.bottom = r.top + cy;
    }
    if ((uFlags & SWP_NOMOVE) == 0) {
      r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
    }
    if ((uFlags & SWP_NOZORDER) == 0) {
      if (hWndInsertAfter == HWND_TOPMOST) w->dwExStyle |= WS_EX_TOPMOST;
      if (hWndInsertAfter == HWND_NOTOPMOST) w->dwExStyle &= ~WS_EX_TOPMOST;
    }
  }
  ui::detail::NotifyDialogChanged(hWnd);
  return TRUE;
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) {
  if (lpRect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = ui::detail::FindOrFail(table, hWnd);
  if (w == nullptr) return FALSE;
  RECT r = w->rect;
  // A child's rectangle is relative to its parent's client area.
  for (tWindow* c = w; (c->dwStyle & WS_CHILD) != 0;) {
    tWindow* p = table.Find(c->hParent);
    if (p == nullptr) break;
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
    c = p;
  }
  *lpRect = r;
  return TRUE;
}

BOOL IsTopmost(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  return w != nullptr && (w->dwExStyle & WS_EX_TOPMOST) != 0 ? TRUE : FALSE;
}

BOOL SetWindowText(HWND hWnd, LPCSTR lpString) {
  if (!IsWindow(hWnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessage(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0 ? TRUE : FALSE;
}

int GetWindowText(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) return 0;
  const int n = ui::detail::CopyWindowString(hWnd, &tWindow::title, lpString, nMaxCount);
  if (n >= 0) return n;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

int GetWindowTextLength(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  return w != nullptr ? static_cast<int>(w->title.size()) : 0;
}

int GetClassName(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
  if (lpClassName == nullptr || nMaxCount <= 0) return 0;
  return std::max(0,
                  ui::detail::CopyWindowString(hWnd, &tWindow::className, lpClassName, nMaxCount));
}

LONG_PTR GetWindowLongPtr(HWND hWnd, int nIndex) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  if (w == nullptr) return 0;
  if (nIndex == GWLP_USERDATA) return w->userData;
  if (nIndex == GWLP_ID) return w->nCtrlId;
  return 0;
}

LONG_PTR SetWindowLongPtr(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = ui::detail::FindOrFail(table, hWnd);
  if (w == nullptr) return 0;
  LONG_PTR prev = 0;
  if (nIndex == GWLP_USERDATA) {
    prev = w->userData;
    w->userData = dwNewLong;
  } else if (nIndex == GWLP_ID) {
    prev = w->nCtrlId;
    w->nCtrlId = static_cast<int>(dwNewLong);
  }
  return prev;
}
