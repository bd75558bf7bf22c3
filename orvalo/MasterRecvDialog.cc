#include "orvalo/MasterRecvDialog.h"

#include "orvalo/DialogResources.h"
#include "ui/Message.h"
#include "ui/Window.h"

CMasterRecvDialog::~CMasterRecvDialog() { Destroy(); }

void CMasterRecvDialog::Create(HWND hParent) {
  if (m_hDlg != nullptr) return;
  m_hDlg =
      CreateDialogIndirectParam(nullptr, GetDialogTemplate(IDD_MASTERRECV), hParent, DlgProc, 0);
  if (m_hDlg == nullptr) return;
  m_hBar = GetDlgItem(m_hDlg, IDC_MASTERPROGRESS);
  ShowWindow(m_hDlg, SW_SHOW);
}

UINT_PTR CMasterRecvDialog::SetTimer(UINT_PTR nId, UINT uPeriodMs) {
  if (m_hDlg == nullptr) return 0;
  return ::SetTimer(m_hDlg, nId, uPeriodMs, nullptr);
}

void CMasterRecvDialog::SetPos(DWORD dwPercent) {
  if (m_hBar != nullptr) SendMessage(m_hBar, PBM_SETPOS, dwPercent, 0);
}

void CMasterRecvDialog::Destroy() {
  if (m_hDlg != nullptr) DestroyWindow(m_hDlg);  // its timers go with it
  m_hDlg = nullptr;
  m_hBar = nullptr;
}

LONG_PTR CMasterRecvDialog::DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(static_cast<DWORD>(wParam)) == IDCANCEL) {
        PostMessage(hDlg, WM_MASTER_CANCEL, 0, 0);
      }
      return TRUE;
    default:
      return FALSE;
  }
}
