// CWaitDialog: the audience's "Receiving slide data..." notice, shown until
// the first slide arrives. Its Cancel button asks the message bridge to stop,
// which disconnects the audience engine on PowerPoint's thread. A 1000 ms
// timer (id 999) runs while it is up.
// All calls on PowerPoint's thread, which owns the dialog.
#pragma once

#include "ui/UiTypes.h"

class CWaitDialog {
 public:
  static constexpr UINT_PTR kTimerId = 999;
  static constexpr UINT kTimerPeriodMs = 1000;

  CWaitDialog() = default;
  ~CWaitDialog();  // Destroy
  CWaitDialog(const CWaitDialog&) = delete;
  CWaitDialog& operator=(const CWaitDialog&) = delete;

  // Creates and shows the dialog with PowerPoint's frame as parent and
  // remembers this object as the current waiting dialog.
  void Create(HWND hParent);
  // Kills the timer if one was set, then destroys the window.
  void Destroy();

  HWND GetHwnd() const { return m_hDlg; }

 private:
  static LONG_PTR DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hDlg = nullptr;  // PowerPoint's thread only
};

// The current waiting dialog (null when none) and its timer id (0 when no
// timer). PowerPoint's thread only.
extern CWaitDialog* g_pWaitDialog;
extern UINT_PTR g_uWaitTimerId;
