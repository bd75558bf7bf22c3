#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "CountingStopper.h"
#include "PptThread.h"
#include "orvalo/DialogResources.h"
#include "orvalo/MasterRecvDialog.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/ProgressDialog.h"
#include "orvalo/WaitDialog.h"
#include "platform/DebugOutput.h"
#include "ui/UiObserver.h"

namespace {

using bridgetest::CountingStopper;

RECT RectOf(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

int BarPos(HWND hDlg, int nId) {
  return static_cast<int>(SendMessage(GetDlgItem(hDlg, nId), PBM_GETPOS, 0, 0));
}

std::string ItemText(HWND hDlg, int nId) {
  char buf[64];
  GetDlgItemText(hDlg, nId, buf, sizeof buf);
  return buf;
}

void Pump() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
}

// Waits (pumping) until pred holds; false after 10 s.
template <typename Pred>
bool PumpUntil(Pred pred) {
  for (int i = 0; i < 1000 && !pred(); ++i) {
    Pump();
    Sleep(10);
  }
  return pred();
}

TEST(DialogTemplateTest, TheThreeTemplates) {
  const ui::tDialogTemplate* progress = GetDialogTemplate(IDD_PROGRESS);
  const ui::tDialogTemplate* master = GetDialogTemplate(IDD_MASTERRECV);
  const ui::tDialogTemplate* waiting = GetDialogTemplate(IDD_WAITING);
  ASSERT_TRUE(progress && master && waiting);
  EXPECT_EQ(GetDialogTemplate(104), nullptr);
  EXPECT_EQ(progress->caption, "Transmission progress");
  EXPECT_EQ(master->caption, "Receiving Slide Master");
  EXPECT_EQ(waiting->caption, "Receiving slide data...");
  EXPECT_EQ(progress->cx, 131);
  EXPECT_EQ(progress->cy, 37);
  EXPECT_EQ(progress->dwStyle & WS_SYSMENU, 0u);
  EXPECT_EQ(master->cx, 186);
  EXPECT_EQ(waiting->cy, 19);
  EXPECT_EQ(WM_MASTER_CANCEL, 1124u);
  EXPECT_EQ(WM_REPAIRS_QUEUED, 1125u);

  HWND hDlg = CreateDialogIndirectParam(nullptr, waiting, nullptr, nullptr, 0);
  ASSERT_NE(hDlg, nullptr);
  EXPECT_EQ(ui::DescribeDialog(hDlg),
            "dialog \"Receiving slide data...\" at (387, 369) size 250 x 30: [button 2 "
            "\"Cancel\"] [static \"Waiting to receive complete slide...\"]");
  DestroyWindow(hDlg);
}

TEST(ProgressDialogTest, ShowsValuesPostedFromASendThread) {
  CProgressDialog dialog;
  dialog.Create(nullptr);
  HWND hDlg = dialog.GetHwnd();
  ASSERT_NE(hDlg, nullptr);
  ISlideProgress* pProgress = &dialog;  // as the send queue sees it
  std::thread send([&] {
    pProgress->SetThisSlide(40);
    pProgress->SetNextSlide(75);
    pProgress->SetRepairs(0);
  });
  send.join();
  Pump();
  EXPECT_EQ(BarPos(hDlg, IDC_THISSLIDE), 40);
  EXPECT_EQ(BarPos(hDlg, IDC_NEXTSLIDE), 75);
  EXPECT_EQ(ItemText(hDlg, IDC_REPAIRS), "0");
  std::thread([&] {
    dialog.SetRepairs(4294967295u);
    dialog.SetThisSlide(-1);  // no progress to report
    dialog.SetNextSlide(250);
  }).join();
  Pump();
  EXPECT_EQ(ItemText(hDlg, IDC_REPAIRS), "4294967295");
  EXPECT_EQ(BarPos(hDlg, IDC_THISSLIDE), 0);
  EXPECT_EQ(BarPos(hDlg, IDC_NEXTSLIDE), 100);
  EXPECT_EQ(SendMessage(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), TRUE);
  EXPECT_TRUE(IsWindow(hDlg));  // it cannot be closed by the user
  dialog.Destroy();
  EXPECT_FALSE(IsWindow(hDlg));
  dialog.SetThisSlide(10);  // harmless once gone
  dialog.SetRepairs(1);
  dialog.Destroy();
}

TEST(ProgressDialogTest, StaysHomeWithoutTheFormAndDocksBelowItWhenItAppears) {
  CProgressDialog dialog;
  dialog.Create(nullptr);
  HWND hDlg = dialog.GetHwnd();
  ASSERT_NE(hDlg, nullptr);
  RECT r = RectOf(hDlg);
  EXPECT_EQ(r.left, 580);
  EXPECT_EQ(r.top, 350);
  EXPECT_TRUE(IsTopmost(hDlg));
  const LONG cx = r.right - r.left;

  // A form at a left edge of 0 does not count.
  WNDCLASS wc{};
  wc.lpfnWndProc = DefWindowProc;
  wc.lpszClassName = CProgressDialog::kFormClass;
  ASSERT_NE(RegisterClass(&wc), 0);
  HWND hForm = CreateWindowEx(0, CProgressDialog::kFormClass, CProgressDialog::kFormTitle,
                              WS_OVERLAPPED, 0, 40, 400, 300, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hForm, nullptr);
  Sleep(3 * CProgressDialog::kDockPollMs);
  r = RectOf(hDlg);
  EXPECT_EQ(r.left, 580);
  EXPECT_EQ(r.top, 350);

  SetWindowPos(hForm, nullptr, 120, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_TRUE(PumpUntil([&] { return RectOf(hDlg).left == 120; }));
  r = RectOf(hDlg);
  EXPECT_EQ(r.left, 120);
  EXPECT_EQ(r.top, 340);  // the form's bottom edge
  EXPECT_EQ(r.right - r.left, cx);
  EXPECT_TRUE(IsTopmost(hDlg));
  dialog.Destroy();
  DestroyWindow(hForm);
}

TEST(ProgressDialogTest, DestroyWhileTheDockingThreadPollsIsSafe) {
  for (int i = 0; i < 20; ++i) {
    auto dialog = std::make_unique<CProgressDialog>();
    dialog->Create(nullptr);
    HWND hDlg = dialog->GetHwnd();
    ASSERT_NE(hDlg, nullptr);
    if (i % 2 == 0) Sleep(CProgressDialog::kDockPollMs / 4 * (i % 4));
    dialog.reset();  // the destructor destroys it
    EXPECT_FALSE(IsWindow(hDlg));
  }
}

// The audience's master receive: a loop of its own inside a message handler,
// driven by the dialog's timer, ended by the dialog's Cancel.
TEST(MasterRecvDialogTest, NestedLoopRunsTimersAndEndsOnCancel) {
  bridgetest::PptThread ppt;
  std::atomic<int> nTicks{0};
  std::atomic<bool> fAborted{false};
  std::atomic<HWND> hDlg{nullptr};
  std::atomic<int> nBarPos{-1};
  std::promise<void> loopDone;
  ppt.Post([&] {
    CMasterRecvDialog dialog;
    dialog.Create(nullptr);
    hDlg = dialog.GetHwnd();
    ASSERT_EQ(dialog.SetTimer(1, 20), 1u);
    dialog.SetPos(0);
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER && msg.hwnd == dialog.GetHwnd()) {
        ++nTicks;
        dialog.SetPos(static_cast<DWORD>(nTicks * 10));
        nBarPos = BarPos(dialog.GetHwnd(), IDC_MASTERPROGRESS);
      } else if (msg.message == WM_MASTER_CANCEL) {
        fAborted = true;
        dialog.Destroy();
        break;
      }
      DispatchMessage(&msg);
    }
    loopDone.set_value();
  });
  // The outer loop is now waiting inside that handler.
  while (nTicks.load() < 3) Sleep(5);
  ASSERT_TRUE(ui::ClickDlgButton(hDlg.load(), IDCANCEL));
  loopDone.get_future().wait();
  EXPECT_TRUE(fAborted.load());
  EXPECT_GE(nTicks.load(), 3);
  EXPECT_EQ(nBarPos.load(), std::min(100, nTicks.load() * 10));
  EXPECT_FALSE(IsWindow(hDlg.load()));
  std::atomic<bool> fOuterRuns{false};
  ppt.Run([&] { fOuterRuns = true; });  // the outer loop goes on
  EXPECT_TRUE(fOuterRuns.load());
}

TEST(WaitDialogTest, TicksUntilDestroyedAndCancelStopsOnPowerPointsThread) {
  platform::SetDebugOutputHook([](std::string_view) {});
  bridgetest::PptThread ppt;
  CountingStopper stopper;
  CWaitDialog dialog;
  HWND hDlg = nullptr;
  ppt.Run([&] {
    ASSERT_TRUE(g_PPTMsgComm.Init(ppt.frame(), &stopper));
    dialog.Create(ppt.frame());
    hDlg = dialog.GetHwnd();
  });
  ASSERT_NE(hDlg, nullptr);
  ppt.Run([&] {
    EXPECT_EQ(g_pWaitDialog, &dialog);
    EXPECT_EQ(g_uWaitTimerId, CWaitDialog::kTimerId);
    EXPECT_EQ(GetParent(hDlg), ppt.frame());
  });
  ASSERT_TRUE(ui::ClickDlgButton(hDlg, IDCANCEL));
  for (int i = 0; i < 1000 && stopper.m_nStops.load() == 0; ++i) Sleep(10);
  EXPECT_EQ(stopper.m_nStops.load(), 1);
  EXPECT_EQ(stopper.m_dwThreadId.load(), ppt.threadId());
  ppt.Run([&] {
    dialog.Destroy();
    EXPECT_EQ(g_pWaitDialog, nullptr);
    EXPECT_EQ(g_uWaitTimerId, 0u);
    EXPECT_FALSE(KillTimer(hDlg, CWaitDialog::kTimerId));
    g_PPTMsgComm.Clear();
  });
  EXPECT_FALSE(IsWindow(hDlg));
  platform::SetDebugOutputHook(nullptr);
}

}  // namespace
