#include "ui/Dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Thread.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"
#include "ui/Window.h"

namespace {

const ui::tDialogTemplate kTemplate = {
    "Sample",
    120,
    40,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_CENTER,
    "MS Sans Serif",
    8,
    {
        {ui::ControlKind::Static, -1, "Label", 2, 1, 40, 8, SS_LEFT},
        {ui::ControlKind::Progress, 1000, "", 44, 1, 60, 9, 0},
        {ui::ControlKind::Edit, 1015, "", 44, 12, 24, 10, ES_READONLY | ES_NUMBER | ES_RIGHT},
        {ui::ControlKind::Button, IDCANCEL, "Cancel", 70, 24, 40, 14, BS_PUSHBUTTON},
    }};

class RecordingObserver : public ui::CUiObserver {
 public:
  int OnMessageBox(HWND, const std::string&, const std::string&, UINT) override { return IDOK; }
  void OnDialogShown(HWND h) override { Add("shown", h); }
  void OnDialogChanged(HWND h) override { Add("changed", h); }
  void OnDialogDestroyed(HWND h) override { Add("destroyed", h); }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }

 private:
  void Add(const char* what, HWND h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(what + std::string(": ") + ui::DescribeDialog(h));
  }
  std::mutex m_mutex;
  std::vector<std::string> m_events;  // guarded by m_mutex
};

struct DialogLog {
  std::vector<std::pair<UINT, WPARAM>> messages;
  LPARAM initParam = 0;
  DWORD dwCommandThread = 0;
};
DialogLog* g_log = nullptr;  // written by the test thread before the dialog runs

LONG_PTR SampleDlgProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    g_log->initParam = lParam;
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    g_log->messages.emplace_back(msg, wParam);
    g_log->dwCommandThread = GetCurrentThreadId();
    PostQuitMessage(0);
    return TRUE;
  }
  return FALSE;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log = &log_;
    observer_ = std::make_shared<RecordingObserver>();
    ui::SetUiObserver(observer_);
  }
  void TearDown() override {
    ui::SetUiObserver(nullptr);
    g_log = nullptr;
  }
  DialogLog log_;
  std::shared_ptr<RecordingObserver> observer_;
};

TEST_F(DialogTest, ControlsFromTheTemplateHoldTheirValues) {
  HWND hDlg = CreateDialogIndirectParam(nullptr, &kTemplate, nullptr, SampleDlgProc, 77);
  ASSERT_NE(hDlg, nullptr);
  EXPECT_EQ(log_.initParam, 77);
  EXPECT_TRUE(IsWindowVisible(hDlg));

  // Dialog units to pixels (6 x 13 per 4 x 8), centred on the screen.
  RECT r;
  ASSERT_TRUE(GetWindowRect(hDlg, &r));
  EXPECT_EQ(r.right - r.left, 180);
  EXPECT_EQ(r.bottom - r.top, 65);
  EXPECT_EQ(r.left, (1024 - 180) / 2);

  HWND hBar = GetDlgItem(hDlg, 1000);
  ASSERT_NE(hBar, nullptr);
  EXPECT_EQ(SendMessage(hBar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessage(hBar, PBM_SETPOS, 40, 0), 0);
  EXPECT_EQ(SendMessage(hBar, PBM_SETPOS, 150, 0), 40);  // clamped to the 0..100 range
  EXPECT_EQ(SendMessage(hBar, PBM_GETPOS, 0, 0), 100);

  struct Case {
    UINT uValue;
    BOOL bSigned;
    const char* szText;
  };
  const Case cases[] = {{0, FALSE, "0"},
                        {4294967295u, FALSE, "4294967295"},
                        {4294967295u, TRUE, "-1"},
                        {1234, FALSE, "1234"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(SetDlgItemInt(hDlg, 1015, c.uValue, c.bSigned));
    char buf[16];
    GetDlgItemText(hDlg, 1015, buf, sizeof buf);
    EXPECT_STREQ(buf, c.szText);
  }
  BOOL fOk = FALSE;
  EXPECT_EQ(GetDlgItemInt(hDlg, 1015, &fOk, FALSE), 1234u);
  EXPECT_TRUE(fOk);
  EXPECT_FALSE(SetDlgItemInt(hDlg, 4242, 1, FALSE));  // no such control

  EXPECT_EQ(ui::DescribeDialog(hDlg),
            "dialog \"Sample\" at (422, 351) size 180 x 65: [static \"Label\"] [progress 1000 "
            "100%] [edit 1015 \"1234\"] [button 2 \"Cancel\"]");
  ASSERT_TRUE(DestroyWindow(hDlg));
  EXPECT_FALSE(IsWindow(hBar));
  std::vector<std::string> events = observer_->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().rfind("shown: dialog \"Sample\"", 0), 0u);
  EXPECT_EQ(events.back().rfind("destroyed: dialog \"Sample\"", 0), 0u);
}

TEST_F(DialogTest, ButtonPressedFromAnotherThreadCommandsOnTheDialogThread) {
  HWND hDlg = CreateDialogIndirectParam(nullptr, &kTemplate, nullptr, SampleDlgProc, 0);
  ASSERT_NE(hDlg, nullptr);
  BOOL fClicked = FALSE;
  std::thread([&] { fClicked = ui::ClickDlgButton(hDlg, IDCANCEL); }).join();
  EXPECT_TRUE(fClicked);
  EXPECT_FALSE(ui::ClickDlgButton(hDlg, 1000));  // a progress bar is no button
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
  ASSERT_EQ(log_.messages.size(), 1u);
  EXPECT_EQ(log_.messages[0].second, MAKEWPARAM(IDCANCEL, BN_CLICKED));
  EXPECT_EQ(log_.dwCommandThread, GetCurrentThreadId());
  DestroyWindow(hDlg);
}

TEST(MessageBoxObserverTest, ObserverAnswersAndHearsBeeps) {
  struct Answering : ui::CUiObserver {
    int OnMessageBox(HWND, const std::string& text, const std::string& caption, UINT) override {
      seen = caption + "|" + text;
      return IDCANCEL;
    }
    void OnMessageBeep(UINT u) override { beep = static_cast<int>(u); }
    std::string seen;
    int beep = -1;
  };
  auto observer = std::make_shared<Answering>();
  ui::SetUiObserver(observer);
  EXPECT_EQ(MessageBox(nullptr, "Unable to set update timer", "Timer", MB_OK), IDCANCEL);
  MessageBeep(0);
  ui::SetUiObserver(nullptr);
  EXPECT_EQ(observer->seen, "Timer|Unable to set update timer");
  EXPECT_EQ(observer->beep, 0);
}

}  // namespace
