// Dialogs from templates held as data, and their controls.
//
// A template lists the dialog's caption, size, style and controls (kind, id,
// text, position, style) in dialog units; dialog units become pixels with the
// base units of the 8-point "MS Sans Serif" font (6 x 13 pixels per 4 x 8
// units). Modelled controls: static texts, push buttons (a click sends
// WM_COMMAND with BN_CLICKED to the dialog), edit boxes (text only; the
// read-only and numbers-only styles are kept, nothing is typed) and progress
// bars (PBM_SETRANGE, PBM_SETPOS, PBM_GETPOS; range 0..100 by default).
// The dialog window's procedure calls the dialog procedure and falls back to
// the default handling when it returns FALSE; the dialog procedure's result is
// the message's result (there is no DWLP_MSGRESULT). Modal dialogs, keyboard
// navigation and default buttons are left out.
//
// Thread safety: as for ui/Window.h. A dialog belongs to the thread that
// created it. ClickDlgButton and DescribeDialog may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "ui/UiTypes.h"

namespace ui {

enum class ControlKind { Static, Button, Edit, Progress };

struct tDialogItem {
  ControlKind kind;
  int nId;           // -1: no id
  std::string text;  // empty for edit boxes and progress bars
  short x, y, cx, cy;
  DWORD dwStyle;  // kind-specific styles (ES_*, WS_BORDER, ...)
};

struct tDialogTemplate {
  std::string caption;
  short cx, cy;
  DWORD dwStyle;  // WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_CENTER | ...
  std::string font;
  short nPointSize;
  std::vector<tDialogItem> items;
};

inline constexpr int kDialogBaseUnitX = 6;   // pixels per 4 horizontal dialog units
inline constexpr int kDialogBaseUnitY = 13;  // pixels per 8 vertical dialog units
// The virtual screen on which DS_CENTER centres dialogs.
inline constexpr int kScreenWidth = 1024;
inline constexpr int kScreenHeight = 768;

// Class names of the built-in windows.
inline constexpr const char* kDialogClass = "#32770";
inline constexpr const char* kStaticClass = "Static";
inline constexpr const char* kButtonClass = "Button";
inline constexpr const char* kEditClass = "Edit";
inline constexpr const char* kProgressClass = "msctls_progress32";

// Presses the dialog's button: posts BM_CLICK to it, so that the click is
// handled on the dialog's thread. FALSE when there is no such button.
BOOL ClickDlgButton(HWND hDlg, int nIDDlgItem);

// One line of text with the dialog's caption, place, size and controls with
// their texts and values; empty when hDlg is not a dialog.
std::string DescribeDialog(HWND hDlg);

}  // namespace ui

// Creates a modeless dialog on the calling thread: the dialog window, its
// controls, then WM_INITDIALOG (wParam: the first control, lParam:
// dwInitParam); a WS_VISIBLE dialog is then shown (the observer hears of it).
// Returns null when the parent is given but not a window.
HWND CreateDialogIndirectParam(HINSTANCE hInstance, const ui::tDialogTemplate* lpTemplate,
                               HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam);

// Default handling for dialogs: WM_CLOSE becomes a click on IDCANCEL; the rest
// as DefWindowProc.
LRESULT DefDlgProc(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam);

HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
int GetDlgCtrlID(HWND hWnd);
BOOL SetDlgItemText(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
UINT GetDlgItemText(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
// Shows the value as decimal text, signed or unsigned.
BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned);
UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;
