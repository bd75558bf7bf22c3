// The window-message types and constants of the headless window stand-in.
// Only what the system's code and its tests use is defined; the rest of the
// Win32 windowing API is left out on purpose.
#pragma once

#include "platform/Win32Types.h"

// Window handles are opaque numbers that are never reused, so that a stale
// handle is recognised (IsWindow) instead of naming another window.
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HMENU__;
using HMENU = HMENU__*;
struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
using ATOM = WORD;
using LPCTSTR = const char*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = LONG_PTR (*)(HWND, UINT, WPARAM, LPARAM);  // TRUE: handled
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASS {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return MAKELONG(lo, hi); }
constexpr LPARAM MAKELPARAM(WORD lo, WORD hi) { return static_cast<LPARAM>(MAKELONG(lo, hi)); }
inline LPCSTR MAKEINTRESOURCE(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(id));
}

// Window messages.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;
// RegisterWindowMessage hands out numbers in this range.
inline constexpr UINT kFirstRegisteredMessage = 0xC000;
inline constexpr UINT kLastRegisteredMessage = 0xFFFF;

// Button and progress-bar messages and notifications.
inline constexpr UINT BM_CLICK = 0x00F5;
inline constexpr WORD BN_CLICKED = 0;
inline constexpr UINT PBM_SETRANGE = WM_USER + 1;
inline constexpr UINT PBM_SETPOS = WM_USER + 2;
inline constexpr UINT PBM_GETPOS = WM_USER + 8;

// Window styles.
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD DS_MODALFRAME = 0x80;
inline constexpr DWORD DS_SETFONT = 0x40;
inline constexpr DWORD DS_CENTER = 0x0800;
inline constexpr DWORD ES_RIGHT = 0x0002;
inline constexpr DWORD ES_READONLY = 0x0800;
inline constexpr DWORD ES_NUMBER = 0x2000;
inline constexpr DWORD BS_PUSHBUTTON = 0x0000;
inline constexpr DWORD SS_LEFT = 0x0000;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// GetWindowLongPtr / SetWindowLongPtr slots.
inline constexpr int GWLP_USERDATA = -21;
inline constexpr int GWLP_ID = -12;

// SetWindowPos.
inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;

// PeekMessage.
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// Message boxes: buttons, icons and results.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Stock resources (their values only identify them; nothing is drawn).
inline LPCSTR const IDI_APPLICATION = MAKEINTRESOURCE(32512);
inline LPCSTR const IDC_ARROW = MAKEINTRESOURCE(32512);
