#include "orvalo/WaitDialog.h"

#include "orvalo/DialogResources.h"
#include "orvalo/PPTMsgComm.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"
#include "ui/Window.h"

CWaitDialog* g_pWaitDialog = nullptr;
UINT_PTR g_uWaitTimerId = 0;

CWaitDialog::~CWaitDialog() { Destroy(); }

void CWaitDialog::Create(HWND hParent) {
  if (m_hDlg != nullptr) return;
  m_hDlg = CreateDialogIndirectParam(nullptr, GetDialogTemplate(IDD_WAITING), hParent, DlgProc, 0);
  if (m_hDlg != nullptr) g_pWaitDialog = this;
}

void CWaitDialog::Destroy() {
  if (m_hDlg != nullptr) {
    if (g_uWaitTimerId != 0) {
      KillTimer(m_hDlg, g_uWaitTimerId);
      g_uWaitTimerId = 0;
    }
    DestroyWindow(m_hDlg);
    m_hDlg = nullptr;
  }
  if (g_pWaitDialog == this) g_pWaitDialog = nullptr;
}

LONG_PTR CWaitDialog::DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      g_uWaitTimerId = SetTimer(hDlg, kTimerId, kTimerPeriodMs, nullptr);
      if (g_uWaitTimerId == 0) MessageBox(nullptr, "Unable to set update timer", "Timer", MB_OK);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(static_cast<DWORD>(wParam)) == IDCANCEL) g_PPTMsgComm.PostStop();
      return TRUE;
    case WM_TIMER:
      return TRUE;  // the tick changes nothing
    default:
      return FALSE;
  }
}
