// CMasterRecvDialog: the audience's "Receiving Slide Master" dialog, shown
// while the slide master arrives. Its Cancel button posts WM_MASTER_CANCEL
// (1124) to the dialog, which the receiving message loop watches for.
// All calls on PowerPoint's thread, which owns the dialog.
#pragma once

#include "ui/UiTypes.h"

class CMasterRecvDialog {
 public:
  CMasterRecvDialog() = default;
  ~CMasterRecvDialog();  // Destroy
  CMasterRecvDialog(const CMasterRecvDialog&) = delete;
  CMasterRecvDialog& operator=(const CMasterRecvDialog&) = delete;

  // Creates and shows the dialog (hParent may be null). On failure the
  // handles stay null and every later call does nothing.
  void Create(HWND hParent);
  // A timer on the dialog window; its id, or 0 when it cannot be set.
  UINT_PTR SetTimer(UINT_PTR nId, UINT uPeriodMs);
  void SetPos(DWORD dwPercent);
  void Destroy();

  HWND GetHwnd() const { return m_hDlg; }

 private:
  static LONG_PTR DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hDlg = nullptr;  // PowerPoint's thread only
  HWND m_hBar = nullptr;  // PowerPoint's thread only
};
