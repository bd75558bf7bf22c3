// The presenter control's live command strings against a presenter that
// records its calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvalo/orvaloCommand.h"

namespace {

class CRecordingPresenter {
 public:
  BOOL Goto(DWORD n) { return Record("Goto(" + std::to_string(n) + ")"); }
  BOOL Step(int nWhichway, DWORD nWhich) {
    return Record("Step(" + std::to_string(nWhichway) + "," + std::to_string(nWhich) + ")");
  }
  BOOL SetScreen(DWORD n) { return Record("SetScreen(" + std::to_string(n) + ")"); }
  BOOL End() { return Record("End()"); }

  std::vector<std::string> m_calls;
  BOOL m_fResult = TRUE;

 private:
  BOOL Record(std::string call) {
    m_calls.push_back(std::move(call));
    return m_fResult;
  }
};

using Calls = std::vector<std::string>;

TEST(CommandTest, CommandsBecomePresenterCalls) {
  struct Case {
    std::string command;
    HRESULT hr;
    Calls calls;
  };
  const std::string s255 = "gotoslide~" + std::string(244, '0') + "7";
  const std::string s256 = "gotoslide~" + std::string(245, '0') + "7";
  ASSERT_EQ(s255.size(), 255u);
  const Case cases[] = {
      {"gotoslide~7", S_OK, {"Goto(7)"}},
      {"GoToSlide~7", S_OK, {"Goto(7)"}},
      {"step~1~4", S_OK, {"Step(1,4)"}},
      {"STEP~-1~4", S_OK, {"Step(-1,4)"}},
      {"setscreen~3", S_OK, {"SetScreen(3)"}},
      {"exitshow", S_OK, {"End()"}},
      // Empty fields are skipped; fields past the third are ignored.
      {"~~gotoslide~~7~", S_OK, {"Goto(7)"}},
      {"step~1~4~9", S_OK, {"Step(1,4)"}},
      // Numbers read up to the first other character, 0 without digits,
      // held to the 32-bit range.
      {"gotoslide~12abc", S_OK, {"Goto(12)"}},
      {"gotoslide~ +5", S_OK, {"Goto(5)"}},
      {"setscreen~x", S_OK, {"SetScreen(0)"}},
      {"gotoslide~99999999999", S_OK, {"Goto(2147483647)"}},
      {"step~-99999999999~2", S_OK, {"Step(-2147483648,2)"}},
      // Nothing to do.
      {"", S_OK, {}},
      {"~", S_OK, {}},
      {"~~~", S_OK, {}},
      {"writeproblem~5", S_OK, {}},
      {"dance~1~2", S_OK, {}},
      // A verb without the numbers it needs calls nothing.
      {"gotoslide", E_FAIL, {}},
      {"setscreen~", E_FAIL, {}},
      {"step~1", E_FAIL, {}},
      // Length: 255 characters are taken, 256 are refused; a NUL ends the text.
      {s255, S_OK, {"Goto(7)"}},
      {s256, E_FAIL, {}},
      {std::string("gotoslide~7\0", 12) + std::string(300, 'x'), S_OK, {"Goto(7)"}},
  };
  for (const Case& c : cases) {
    CRecordingPresenter presenter;
    EXPECT_EQ(orvalo::RunCommand(c.command, presenter), c.hr) << c.command;
    EXPECT_EQ(presenter.m_calls, c.calls) << c.command;
  }
}

TEST(CommandTest, AFailingPresenterCallIsAFailure) {
  for (const char* szCommand : {"gotoslide~2", "step~1~2", "setscreen~1", "exitshow"}) {
    CRecordingPresenter presenter;
    presenter.m_fResult = FALSE;
    EXPECT_EQ(orvalo::RunCommand(szCommand, presenter), E_FAIL) << szCommand;
    EXPECT_EQ(presenter.m_calls.size(), 1u) << szCommand;
  }
  CRecordingPresenter presenter;
  presenter.m_fResult = FALSE;
  EXPECT_EQ(orvalo::RunCommand("writeproblem", presenter), S_OK);
}

}  // namespace
