#include "ui/Dialog.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Errors.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"
#include "ui/Window.h"
#include "ui/WindowTable.h"

namespace {

using ui::detail::CWindowTable;
using ui::detail::tWindow;
using ui::detail::WindowKind;

int UnitsToPixelsX(int n) { return n * ui::kDialogBaseUnitX / 4; }
int UnitsToPixelsY(int n) { return n * ui::kDialogBaseUnitY / 8; }

const char* ClassOf(ui::ControlKind kind) {
  switch (kind) {
    case ui::ControlKind::Static:
      return ui::kStaticClass;
    case ui::ControlKind::Button:
      return ui::kButtonClass;
    case ui::ControlKind::Edit:
      return ui::kEditClass;
    case ui::ControlKind::Progress:
      return ui::kProgressClass;
  }
  return ui::kStaticClass;
}

void SetDialogProc(HWND hDlg, DLGPROC proc) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  if (tWindow* w = table.Find(hDlg)) w->dlgProc = proc;
}

std::string DescribeControl(const tWindow& c) {
  char buf[64];
  std::string out = " [";
  switch (c.kind) {
    case WindowKind::Static:
      out += "static";
      break;
    case WindowKind::Button:
      out += "button";
      break;
    case WindowKind::Edit:
      out += "edit";
      break;
    case WindowKind::Progress:
      out += "progress";
      break;
    default:
      out += c.className;
      break;
  }
  if (c.nCtrlId != -1 && c.nCtrlId != 0xFFFF) {
    std::snprintf(buf, sizeof buf, " %d", c.nCtrlId);
    out += buf;
  }
  if (c.kind == WindowKind::Progress) {
    std::snprintf(buf, sizeof buf, " %d%%", c.nPos);
    out += buf;
  } else {
    out += " \"" + c.title + "\"";
  }
  return out + "]";
}

}  // namespace

namespace ui {

BOOL ClickDlgButton(HWND hDlg, int nIDDlgItem) {
  HWND hButton = GetDlgItem(hDlg, nIDDlgItem);
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = table.Find(hButton);
    if (w == nullptr || w->kind != WindowKind::Button) return FALSE;
  }
  return PostMessage(hButton, BM_CLICK, 0, 0);
}

std::string DescribeDialog(HWND hDlg) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* d = table.Find(hDlg);
  if (d == nullptr || d->kind != WindowKind::Dialog) return "";
  char buf[128];
  std::snprintf(buf, sizeof buf, "\" at (%d, %d) size %d x %d%s:", static_cast<int>(d->rect.left),
                static_cast<int>(d->rect.top), static_cast<int>(d->rect.right - d->rect.left),
                static_cast<int>(d->rect.bottom - d->rect.top),
                (d->dwExStyle & WS_EX_TOPMOST) != 0 ? " topmost" : "");
  std::string out = "dialog \"" + d->title + buf;
  for (const auto& [id, w] : table.m_windows) {
    if (w.hParent == hDlg && (w.dwStyle & WS_CHILD) != 0) out += DescribeControl(w);
  }
  return out;
}

}  // namespace ui

HWND CreateDialogIndirectParam(HINSTANCE hInstance, const ui::tDialogTemplate* lpTemplate,
                               HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  if (lpTemplate == nullptr || (hWndParent != nullptr && !IsWindow(hWndParent))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const int cx = UnitsToPixelsX(lpTemplate->cx);
  const int cy = UnitsToPixelsY(lpTemplate->cy);
  int x = 0, y = 0;
  if ((lpTemplate->dwStyle & DS_CENTER) != 0) {
    x = (ui::kScreenWidth - cx) / 2;
    y = (ui::kScreenHeight - cy) / 2;
  }
  // Created hidden; shown after WM_INITDIALOG if the template says so.
  const DWORD dwStyle = (lpTemplate->dwStyle & ~WS_VISIBLE & ~WS_CHILD) | WS_POPUP;
  HWND hDlg = CreateWindowEx(0, ui::kDialogClass, lpTemplate->caption.c_str(), dwStyle, x, y, cx,
                             cy, hWndParent, nullptr, hInstance, nullptr);
  if (hDlg == nullptr) return nullptr;
  HWND hFirst = nullptr;
  for (const ui::tDialogItem& item : lpTemplate->items) {
    HWND hCtrl = CreateWindowEx(
        0, ClassOf(item.kind), item.text.c_str(), item.dwStyle | WS_CHILD | WS_VISIBLE,
        UnitsToPixelsX(item.x), UnitsToPixelsY(item.y), UnitsToPixelsX(item.cx),
        UnitsToPixelsY(item.cy), hDlg,
        reinterpret_cast<HMENU>(static_cast<std::intptr_t>(item.nId)), hInstance, nullptr);
    if (hCtrl == nullptr) {
      DestroyWindow(hDlg);
      return nullptr;
    }
    if (hFirst == nullptr) hFirst = hCtrl;
  }
  SetDialogProc(hDlg, lpDialogFunc);
  SendMessage(hDlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(hFirst), dwInitParam);
  if ((lpTemplate->dwStyle & WS_VISIBLE) != 0 && IsWindow(hDlg)) ShowWindow(hDlg, SW_SHOW);
  return hDlg;
}

LRESULT DefDlgProc(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_CLOSE) {
    SendMessage(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
    return 0;
  }
  return DefWindowProc(hDlg, Msg, wParam, lParam);
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  if (table.Find(hDlg) == nullptr) return nullptr;
  for (const auto& [id, w] : table.m_windows) {
    if (w.hParent == hDlg && (w.dwStyle & WS_CHILD) != 0 && w.nCtrlId == nIDDlgItem) {
      return ui::detail::ToHwnd(id);
    }
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hWnd) { return static_cast<int>(GetWindowLongPtr(hWnd, GWLP_ID)); }

BOOL SetDlgItemText(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  HWND hCtrl = GetDlgItem(hDlg, nIDDlgItem);
  if (hCtrl == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SetWindowText(hCtrl, lpString);
}

UINT GetDlgItemText(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  if (lpString != nullptr && cchMax > 0) lpString[0] = '\0';
  HWND hCtrl = GetDlgItem(hDlg, nIDDlgItem);
  if (hCtrl == nullptr) return 0;
  return static_cast<UINT>(GetWindowText(hCtrl, lpString, cchMax));
}

BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
  char buf[16];
  if (bSigned) {
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(uValue));
  } else {
    std::snprintf(buf, sizeof buf, "%u", uValue);
  }
  return SetDlgItemText(hDlg, nIDDlgItem, buf);
}

UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned) {
  char buf[32];
  GetDlgItemText(hDlg, nIDDlgItem, buf, sizeof buf);
  char* end = nullptr;
  long long value = bSigned ? std::strtoll(buf, &end, 10) : std::strtoull(buf, &end, 10);
  const bool ok = end != buf && *end == '\0' && (bSigned || buf[0] != '-');
  if (lpTranslated != nullptr) *lpTranslated = ok ? TRUE : FALSE;
  return ok ? static_cast<UINT>(value) : 0;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  bool fWasVisible, fDialog;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = table.Find(hWnd);
    if (w == nullptr) return FALSE;
    fWasVisible = (w->dwStyle & WS_VISIBLE) != 0;
    fDialog = w->kind == WindowKind::Dialog;
    if (nCmdShow == SW_HIDE) {
      w->dwStyle &= ~WS_VISIBLE;
    } else {
      w->dwStyle |= WS_VISIBLE;
    }
  }
  if (fDialog && nCmdShow != SW_HIDE && !fWasVisible) {
    if (auto observer = ui::GetUiObserver()) observer->OnDialogShown(hWnd);
  }
  return fWasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
  CWindowTable& table = CWindowTable::Get();
  std::lock_guard<std::mutex> lock(table.m_mutex);
  tWindow* w = table.Find(hWnd);
  return w != nullptr && (w->dwStyle & WS_VISIBLE) != 0 ? TRUE : FALSE;
}
