#include "ErrStuff/ErrReport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"
#include "ui/UiObserver.h"

namespace {

struct Box {
  std::string text;
  std::string caption;
  UINT uType;
};

class RecordingObserver : public ui::CUiObserver {
 public:
  int OnMessageBox(HWND, const std::string& text, const std::string& caption, UINT uType) override {
    boxes.push_back({text, caption, uType});
    return IDOK;
  }
  std::vector<Box> boxes;
};

class ErrReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    observer_ = std::make_shared<RecordingObserver>();
    ui::SetUiObserver(observer_);
    platform::SetDebugOutputHook([this](std::string_view s) { debug_ += s; });
  }
  void TearDown() override {
    platform::SetDebugOutputHook(nullptr);
    ui::SetUiObserver(nullptr);
  }
  const Box& OnlyBox() {
    EXPECT_EQ(observer_->boxes.size(), 1u);
    return observer_->boxes.at(0);
  }
  std::shared_ptr<RecordingObserver> observer_;
  std::string debug_;
};

TEST(ErrorToStringTest, KnownCodesAndTheRest) {
  struct Case {
    DWORD dwCode;
    const char* szText;
  };
  const Case cases[] = {
      {0, "No error."},
      {0x80004005u, "Generic failure."},                     // DDERR_GENERIC
      {0x88760028u, "Support is currently not available."},  // DDERR_CURRENTLYNOTAVAIL
      {0x8876024Cu,
       "This surface can not be restored because it is an implicitly created surface."},
      {0x80070057u, "One or more of the parameters passed to the function are incorrect."},
      {0x88760314u, "D3DRMERR_BADFILE"},
      {0x88760316u, "D3DRMERR_BADVALUE"},
      {0x88760312u, "D3DRMERR_NOTDONEYET"},
      {0x88760319u, "D3DRMERR_UNABLETOEXECUTE"},
      {0x887602BCu, "Unknown driver type or the major version of the driver is not supported."},
      {0x88760001u, "Unrecognized error value."},
      {0x00000001u, "Unrecognized error value."},
      {0x80070002u, "Unrecognized error value."},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(ErrorToString(static_cast<HRESULT>(c.dwCode)), c.szText) << std::hex << c.dwCode;
  }
}

TEST_F(ErrReportTest, FormattedMessageEndsWithCrLfAndIsCut) {
  EXPECT_EQ(ShowFormattedMessage("value %d of %s", 7, "ten"), IDOK);
  std::string longText(5000, 'x');
  ShowFormattedMessage("%s", longText.c_str());
  ASSERT_EQ(observer_->boxes.size(), 2u);
  EXPECT_EQ(observer_->boxes[0].text, "value 7 of ten\r\n");
  EXPECT_EQ(observer_->boxes[0].caption, "D3DRM Example Message");
  EXPECT_EQ(observer_->boxes[0].uType, MB_OK);
  const std::string& cut = observer_->boxes[1].text;
  EXPECT_LT(cut.size(), longText.size());
  EXPECT_EQ(cut.substr(cut.size() - 2), "\r\n");
  EXPECT_EQ(cut.find_first_not_of('x'), cut.size() - 2);
}

TEST_F(ErrReportTest, ErrorMessageTracesTextVerbatim) {
  ShowErrorMessage("50% done %s");
  const Box& box = OnlyBox();
  EXPECT_EQ(box.text, "50% done %s");
  EXPECT_EQ(box.caption, "Harnel Error");
  EXPECT_EQ(box.uType, MB_OK | MB_ICONINFORMATION);
  EXPECT_NE(debug_.find("50% done %s"), std::string::npos);
}

TEST_F(ErrReportTest, ResultErrorShowsPlaceCodeAndTextThenAsserts) {
  ReportResultError("Load", static_cast<HRESULT>(0x88760314u), "scene.cc", 42);
  EXPECT_EQ(OnlyBox().text, "scene.cc line 42\nLoad-Error 0x88760314u: D3DRMERR_BADFILE\n");
  EXPECT_NE(debug_.find("Assertion failed: FALSE"), std::string::npos);
}

TEST_F(ErrReportTest, Win32ErrorShowsSystemText) {
  ReportWin32Error("Open", ERROR_FILE_NOT_FOUND, "file.cc", 7);
  ReportWin32Error("Odd", 987654, "file.cc", 8);
  ASSERT_EQ(observer_->boxes.size(), 2u);
  EXPECT_EQ(observer_->boxes[0].text,
            "file.cc line 7\nOpen-Error 2: The system cannot find the file specified.\n");
  EXPECT_EQ(observer_->boxes[1].text, "file.cc line 8\nOdd-Error 987654: Unknown error.\n");
  EXPECT_NE(debug_.find("Assertion failed: FALSE"), std::string::npos);
}

TEST_F(ErrReportTest, ReportersCutLongNamesInsteadOfOverrunning) {
  std::string name(4000, 'n');
  ReportWin32Error(name.c_str(), ERROR_ACCESS_DENIED, name.c_str(), 1);
  ReportResultError(name.c_str(), E_FAIL, name.c_str(), 1);
  ASSERT_EQ(observer_->boxes.size(), 2u);
  for (const Box& box : observer_->boxes) {
    EXPECT_GT(box.text.size(), 100u);
    EXPECT_LT(box.text.size(), name.size());
  }
}

TEST(MessageBoxTest, WithoutObserverPrintsOneLineAndGivesOk) {
  ui::SetUiObserver(nullptr);
  ::testing::internal::CaptureStderr();
  int result = MessageBox(nullptr, "first\nsecond\r\n", "Caption", MB_OK);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(err, "Caption: first second\n");
}

}  // namespace
