#include "orvalo/ProgressDialog.h"

#include "ErrStuff/DebugTrace.h"
#include "orvalo/DialogResources.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"
#include "ui/Message.h"
#include "ui/Window.h"

CProgressDialog::~CProgressDialog() { Destroy(); }

void CProgressDialog::Create(HWND hParent) {
  if (!ORV_ASSERT(m_hDlg.load() == nullptr)) return;
  HWND hDlg =
      CreateDialogIndirectParam(nullptr, GetDialogTemplate(IDD_PROGRESS), hParent, DlgProc, 0);
  if (hDlg == nullptr) {
    ORV_ASSERT(FALSE);
    return;
  }
  m_hThisSlide = GetDlgItem(hDlg, IDC_THISSLIDE);
  m_hNextSlide = GetDlgItem(hDlg, IDC_NEXTSLIDE);
  m_hDlg = hDlg;
  ShowWindow(hDlg, SW_SHOW);
  m_hDockStop = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  if (m_hDockStop != nullptr) m_hDockThread = CreateThread(DockThread, this, nullptr);
  if (m_hDockThread == nullptr) DebugTrace("CProgressDialog: no docking thread\n");
}

void CProgressDialog::SetThisSlide(int nPercent) {
  if (HWND hBar = m_hThisSlide.load())
    PostMessage(hBar, PBM_SETPOS, static_cast<WPARAM>(nPercent), 0);
}

void CProgressDialog::SetNextSlide(int nPercent) {
  if (HWND hBar = m_hNextSlide.load())
    PostMessage(hBar, PBM_SETPOS, static_cast<WPARAM>(nPercent), 0);
}

void CProgressDialog::SetRepairs(DWORD dwCount) {
  if (HWND hDlg = m_hDlg.load())
    PostMessage(hDlg, WM_REPAIRS_QUEUED, 0, static_cast<LPARAM>(dwCount));
}

void CProgressDialog::MoveTo(int x, int y) {
  if (HWND hDlg = m_hDlg.load()) SetWindowPos(hDlg, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);
}

void CProgressDialog::Destroy() {
  StopDocking();
  HWND hDlg = m_hDlg.exchange(nullptr);
  m_hThisSlide = nullptr;
  m_hNextSlide = nullptr;
  if (hDlg != nullptr) DestroyWindow(hDlg);
}

void CProgressDialog::StopDocking() {
  if (m_hDockThread != nullptr) {
    SetEvent(m_hDockStop);
    WaitForSingleObject(m_hDockThread, INFINITE);
    CloseHandle(m_hDockThread);
    m_hDockThread = nullptr;
  }
  if (m_hDockStop != nullptr) {
    CloseHandle(m_hDockStop);
    m_hDockStop = nullptr;
  }
}

// Polls every 200 ms for the slide-show form and docks below it once; ends
// early when Destroy asks.
DWORD CProgressDialog::DockThread(LPVOID pParam) {
  auto* pThis = static_cast<CProgressDialog*>(pParam);
  for (;;) {
    if (WaitForSingleObject(pThis->m_hDockStop, kDockPollMs) != WAIT_TIMEOUT) return 0;
    HWND hForm = FindWindow(kFormClass, kFormTitle);
    RECT r;
    if (hForm == nullptr || !GetWindowRect(hForm, &r) || r.left <= 0) continue;
    pThis->MoveTo(r.left, r.bottom);
    return 0;
  }
}

LONG_PTR CProgressDialog::DlgProc(HWND hDlg, UINT msg, WPARAM, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowPos(hDlg, HWND_TOPMOST, kHomeX, kHomeY, 0, 0, SWP_NOSIZE);
      return TRUE;
    case WM_REPAIRS_QUEUED:
      ORV_ASSERT(SetDlgItemInt(hDlg, IDC_REPAIRS, static_cast<UINT>(lParam), FALSE));
      return TRUE;
    case WM_COMMAND:
      return TRUE;  // no buttons: the user cannot close it
    default:
      return FALSE;
  }
}
