#include <gtest/gtest.h>

#include <thread>

#include "WindowThread.h"
#include "platform/Errors.h"

namespace {

TEST(WindowTest, ClassesRegisterOnceAndUnknownClassesFail) {
  WNDCLASS wc{};
  wc.lpfnWndProc = DefWindowProc;
  wc.lpszClassName = "OnceOnly";
  EXPECT_NE(RegisterClass(&wc), 0);
  wc.lpszClassName = "ONCEONLY";
  EXPECT_EQ(RegisterClass(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_TRUE(UnregisterClass("OnceOnly", nullptr));
  EXPECT_NE(RegisterClass(&wc), 0);
}

TEST(WindowTest, ChildrenPlacementFindAndDestroy) {
  HWND hTop = uitest::CreateTestWindow(nullptr, "Frame - [deck.ppt]");
  ASSERT_NE(hTop, nullptr);
  HWND hChild =
      CreateWindowEx(0, uitest::TestClass(), "hidden child", WS_CHILD, CW_USEDEFAULT, CW_USEDEFAULT,
                     CW_USEDEFAULT, CW_USEDEFAULT, hTop, nullptr, nullptr, nullptr);
  ASSERT_NE(hChild, nullptr);
  EXPECT_EQ(GetParent(hChild), hTop);
  EXPECT_EQ(CreateWindowEx(0, uitest::TestClass(), "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr,
                           nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);

  // Top-level windows only, by class and title, each without case.
  EXPECT_EQ(FindWindow("uitestwindow", "frame - [DECK.ppt]"), hTop);
  EXPECT_EQ(FindWindow(nullptr, "Frame - [deck.ppt]"), hTop);
  EXPECT_EQ(FindWindow("UiTestWindow", "hidden child"), nullptr);
  EXPECT_EQ(FindWindow("OtherClass", "Frame - [deck.ppt]"), nullptr);

  // A child sits at CW_USEDEFAULT = 0 within its parent; rectangles are screen
  // coordinates.
  RECT r;
  ASSERT_TRUE(GetWindowRect(hChild, &r));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  ASSERT_TRUE(SetWindowPos(hTop, HWND_TOPMOST, 580, 350, 0, 0, SWP_NOSIZE));
  ASSERT_TRUE(GetWindowRect(hTop, &r));
  EXPECT_EQ(r.left, 580);
  EXPECT_EQ(r.top, 350);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 200);
  EXPECT_TRUE(IsTopmost(hTop));

  // Another thread may look but not destroy.
  BOOL fDestroyedElsewhere = TRUE;
  std::thread([&] { fDestroyedElsewhere = DestroyWindow(hTop); }).join();
  EXPECT_FALSE(fDestroyedElsewhere);

  EXPECT_TRUE(DestroyWindow(hTop));
  EXPECT_FALSE(IsWindow(hTop));
  EXPECT_FALSE(IsWindow(hChild));
  EXPECT_EQ(FindWindow(nullptr, "Frame - [deck.ppt]"), nullptr);
  EXPECT_FALSE(DestroyWindow(hTop));
  EXPECT_FALSE(GetWindowRect(hTop, &r));
  EXPECT_FALSE(PostMessage(hTop, WM_USER, 0, 0));
}

TEST(WindowTest, TextGoesThroughTheProcedure) {
  UINT uSeen = 0;
  uitest::Handler handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SETTEXT) uSeen = msg;
    return DefWindowProc(h, msg, wp, lp);
  };
  HWND hwnd = uitest::CreateTestWindow(&handler);
  ASSERT_TRUE(SetWindowText(hwnd, "a rather long title"));
  EXPECT_EQ(uSeen, WM_SETTEXT);
  char buf[8];
  EXPECT_EQ(GetWindowText(hwnd, buf, sizeof buf), 7);
  EXPECT_STREQ(buf, "a rathe");
  EXPECT_EQ(GetWindowTextLength(hwnd), 19);
  DestroyWindow(hwnd);
}

TEST(WindowTest, WindowsOfAnEndedThreadAreGone) {
  HWND hwnd = nullptr;
  std::thread([&] { hwnd = uitest::CreateTestWindow(nullptr, "short-lived"); }).join();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(FindWindow(nullptr, "short-lived"), nullptr);
}

}  // namespace
