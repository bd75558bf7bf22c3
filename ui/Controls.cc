// The procedures of the built-in window classes: the dialog window and its
// static, button, edit and progress-bar controls.
#include <algorithm>

#include "ui/Dialog.h"
#include "ui/Message.h"
#include "ui/Window.h"
#include "ui/WindowTable.h"

namespace ui::detail {

LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  DLGPROC dlgProc = nullptr;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    if (tWindow* w = table.Find(hwnd)) dlgProc = w->dlgProc;
  }
  if (dlgProc != nullptr) {
    LONG_PTR result = dlgProc(hwnd, msg, wParam, lParam);
    if (result != FALSE) return result;
  }
  return DefDlgProc(hwnd, msg, wParam, lParam);
}

LRESULT StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == BM_CLICK) {
    const int nId = GetDlgCtrlID(hwnd);
    SendMessage(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(nId), BN_CLICKED),
                reinterpret_cast<LPARAM>(hwnd));
    return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT EditWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != PBM_SETPOS && msg != PBM_GETPOS && msg != PBM_SETRANGE) {
    return DefWindowProc(hwnd, msg, wParam, lParam);
  }
  LRESULT result = 0;
  bool fChanged = false;
  {
    CWindowTable& table = CWindowTable::Get();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    tWindow* w = table.Find(hwnd);
    if (w == nullptr) return 0;
    if (msg == PBM_GETPOS) return w->nPos;
    if (msg == PBM_SETPOS) {
      result = w->nPos;
      const int nNew =
          std::clamp(static_cast<int>(static_cast<std::intptr_t>(wParam)), w->nMin, w->nMax);
      fChanged = nNew != w->nPos;
      w->nPos = nNew;
    } else {  // PBM_SETRANGE: lParam holds min and max
      result = MAKELPARAM(static_cast<WORD>(w->nMin), static_cast<WORD>(w->nMax));
      w->nMin = static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
      w->nMax = static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)));
      if (w->nMax < w->nMin) std::swap(w->nMin, w->nMax);
      const int nNew = std::clamp(w->nPos, w->nMin, w->nMax);
      fChanged = nNew != w->nPos;
      w->nPos = nNew;
    }
  }
  if (fChanged) NotifyDialogChanged(hwnd);
  return result;
}

}  // namespace ui::detail
