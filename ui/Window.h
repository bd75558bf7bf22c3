// Window classes and windows of the headless window stand-in.
//
// Models a process-wide table of windows (class, title, parent, rectangle,
// procedure, owning thread), registered classes, and the calls the system
// makes on them. Nothing is drawn. Left out on purpose: painting, input,
// focus, activation, z-order beyond the topmost flag, non-client areas (a
// window's client area is its whole rectangle), window extra bytes, menus and
// icons (accepted and ignored), and the messages Windows sends around moves
// and sizes (SetWindowPos changes the rectangle only).
//
// Thread safety: every function may be called from any thread. A window
// belongs to the thread that created it; its procedure runs only there (see
// SendMessage in ui/Message.h). DestroyWindow must be called on that thread.
// When a thread ends, its windows are forgotten without further messages.
//
// Modules: while a window, a dialog or a timer whose procedure lies in a
// loaded module lives, platform::IsModuleInUse (platform/ModuleUse.h) reports
// that module in use, so that the component runtime does not unload it.
// Registered classes do not count: a module unregisters its classes as it
// unloads (which succeeds, since none of its windows lives then).
#pragma once

#include "ui/UiTypes.h"

inline constexpr DWORD ERROR_TLW_WITH_WSCHILD = 1406;
inline constexpr DWORD ERROR_WINDOW_OF_OTHER_THREAD = 1408;
inline constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;

struct CREATESTRUCT {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

// Registers a class by name for the whole process. Returns its atom, or 0 with
// ERROR_CLASS_ALREADY_EXISTS (name taken, compared without case) or
// ERROR_INVALID_PARAMETER (no name or procedure).
ATOM RegisterClass(const WNDCLASS* lpWndClass);
// Removes a registered class. FALSE with ERROR_CLASS_DOES_NOT_EXIST if unknown,
// ERROR_CLASS_HAS_WINDOWS while windows of the class live.
BOOL UnregisterClass(LPCSTR lpClassName, HINSTANCE hInstance);

// Stock icons and cursors: distinct non-null values, nothing behind them.
HICON LoadIcon(HINSTANCE hInstance, LPCSTR lpIconName);
HCURSOR LoadCursor(HINSTANCE hInstance, LPCSTR lpCursorName);

// Creates a window on the calling thread and sends it WM_CREATE (lParam: the
// CREATESTRUCT). A child (WS_CHILD) needs a parent and takes hMenu as its
// control id. CW_USEDEFAULT places children and popups at 0 with size 0, and
// other top-level windows at (100, 100) sized 800 x 600. Returns null with the
// last error set when the class is unknown (ERROR_CLASS_DOES_NOT_EXIST), the
// parent is not a window (ERROR_INVALID_WINDOW_HANDLE), a child has no parent
// (ERROR_TLW_WITH_WSCHILD), or WM_CREATE returned -1.
HWND CreateWindowEx(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int x,
                    int y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                    HINSTANCE hInstance, LPVOID lpParam);

// Sends WM_DESTROY, destroys the window's children and owned windows, kills
// its timers and forgets it. Posted messages still queued for it are dropped
// when they are dispatched. FALSE with ERROR_INVALID_WINDOW_HANDLE for no
// window, ERROR_WINDOW_OF_OTHER_THREAD when called off the window's thread.
BOOL DestroyWindow(HWND hWnd);

// Default handling: WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH, WM_CLOSE
// (destroys the window); 0 for everything else.
LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProc(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

BOOL IsWindow(HWND hWnd);
HWND GetParent(HWND hWnd);
// The id of the thread the window belongs to (0 for no window).
DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);

// Finds the most recently created top-level (non-child) window whose class
// and title match, each compared without case; a null name matches any.
HWND FindWindow(LPCSTR lpClassName, LPCSTR lpWindowName);
inline HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  return FindWindow(lpClassName, lpWindowName);
}

// Moves and sizes (SWP_NOMOVE, SWP_NOSIZE) and sets the topmost flag
// (HWND_TOPMOST, HWND_NOTOPMOST; SWP_NOZORDER keeps it). Coordinates are
// parent-relative for children, screen coordinates otherwise.
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT uFlags);
// The window's rectangle in screen coordinates.
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
// Whether the window is marked topmost (WS_EX_TOPMOST).
BOOL IsTopmost(HWND hWnd);

// SetWindowText sends WM_SETTEXT. GetWindowText and GetWindowTextLength read
// the stored text directly (no WM_GETTEXT), from any thread.
BOOL SetWindowText(HWND hWnd, LPCSTR lpString);
int GetWindowText(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextLength(HWND hWnd);
int GetClassName(HWND hWnd, LPSTR lpClassName, int nMaxCount);

// GWLP_USERDATA and GWLP_ID.
LONG_PTR GetWindowLongPtr(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtr(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
