// The live command strings of the presenter control: "gotoslide~N",
// "step~D~N", "setscreen~S", "exitshow" and "writeproblem", parsed and
// handed to the presenter engine.
//
// A command holds at most 255 characters (bytes of its UTF-8 text). It is
// split at "~" into at most three fields, empty fields skipped: the verb
// (compared without regard to case) and up to two decimal numbers (leading
// blanks and a sign allowed, read up to the first other character, 0 when
// there are no digits, held to the 32-bit range).
#pragma once

#include <string>
#include <string_view>

#include "ErrStuff/DebugTrace.h"
#include "com/HResult.h"
#include "platform/Win32Types.h"

namespace orvalo {

inline constexpr std::size_t kMaxCommandChars = 255;

enum class CommandVerb { kNone, kSetScreen, kStep, kGotoSlide, kExitShow, kWriteProblem, kUnknown };

struct tCommand {
  CommandVerb verb = CommandVerb::kNone;
  std::string sVerb;       // the verb as written
  int nNumbers = 0;        // number fields present, 0-2
  LONG anNumbers[2] = {};  // those present; the rest 0
};

// FALSE (and *pCommand untouched) for a command of more than 255 characters.
BOOL ParseCommand(std::string_view sCommand, tCommand* pCommand);

// How many numbers the verb needs.
int NumbersNeeded(CommandVerb verb);

// Runs sCommand on a presenter: anything with the presenter engine's Goto,
// Step, SetScreen and End, each giving non-zero for success. S_OK when the
// presenter call succeeded, for an empty command, "writeproblem" and unknown
// verbs; E_FAIL when the command is too long, lacks a number its verb needs
// (nothing is called), or the presenter call fails.
// A NUL ends the command, as it ends the text of a converted string.
template <class TPresenter>
HRESULT RunCommand(std::string_view sCommand, TPresenter& presenter) {
  sCommand = sCommand.substr(0, sCommand.find('\0'));
  const std::string sText(sCommand);
  DebugTrace("RemSendStringToAudMembers : %s\n", sText.c_str());
  tCommand cmd;
  if (!ParseCommand(sCommand, &cmd)) return E_FAIL;
  if (cmd.verb == CommandVerb::kNone) return S_OK;
  if (cmd.nNumbers < NumbersNeeded(cmd.verb)) {
    DebugTrace("RemSendStringToAudMembers - missing number: %s\n", sText.c_str());
    return E_FAIL;
  }
  BOOL fOk = TRUE;
  switch (cmd.verb) {
    case CommandVerb::kSetScreen:
      fOk = presenter.SetScreen(static_cast<DWORD>(cmd.anNumbers[0]));
      break;
    case CommandVerb::kStep:
      fOk =
          presenter.Step(static_cast<int>(cmd.anNumbers[0]), static_cast<DWORD>(cmd.anNumbers[1]));
      break;
    case CommandVerb::kGotoSlide:
      fOk = presenter.Goto(static_cast<DWORD>(cmd.anNumbers[0]));
      break;
    case CommandVerb::kExitShow:
      fOk = presenter.End();
      break;
    case CommandVerb::kWriteProblem:
      DebugTrace("writeproblem - ignoring\n");
      return S_OK;
    default:
      DebugTrace("RemSendStringToAudMembers - unhandled string: %s\n", cmd.sVerb.c_str());
      return S_OK;
  }
  return fOk ? S_OK : E_FAIL;
}

}  // namespace orvalo
