#include "orvalo/orvaloCommand.h"

#include <cctype>
#include <cstdint>

namespace orvalo {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

CommandVerb VerbOf(std::string_view sVerb) {
  struct Entry {
    const char* szName;
    CommandVerb verb;
  };
  static constexpr Entry kVerbs[] = {
      {"setscreen", CommandVerb::kSetScreen},       {"step", CommandVerb::kStep},
      {"gotoslide", CommandVerb::kGotoSlide},       {"exitshow", CommandVerb::kExitShow},
      {"writeproblem", CommandVerb::kWriteProblem},
  };
  for (const Entry& e : kVerbs) {
    if (EqualNoCase(sVerb, e.szName)) return e.verb;
  }
  return CommandVerb::kUnknown;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// As atol, but held to the 32-bit range instead of overflowing.
LONG ParseNumber(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool fNegative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) fNegative = s[i++] == '-';
  std::int64_t n = 0;
  constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    n = n * 10 + (s[i] - '0');
    if (n > kLimit) n = kLimit;
  }
  if (fNegative) n = -n;
  if (n > INT32_MAX) n = INT32_MAX;
  return static_cast<LONG>(n);
}

}  // namespace

int NumbersNeeded(CommandVerb verb) {
  switch (verb) {
    case CommandVerb::kSetScreen:
    case CommandVerb::kGotoSlide:
      return 1;
    case CommandVerb::kStep:
      return 2;
    default:
      return 0;
  }
}

BOOL ParseCommand(std::string_view sCommand, tCommand* pCommand) {
  if (sCommand.size() > kMaxCommandChars) return FALSE;
  tCommand cmd;
  int nFields = 0;
  std::size_t pos = 0;
  while (nFields < 3) {
    while (pos < sCommand.size() && sCommand[pos] == '~') ++pos;
    if (pos >= sCommand.size()) break;
    std::size_t end = sCommand.find('~', pos);
    if (end == std::string_view::npos) end = sCommand.size();
    const std::string_view field = sCommand.substr(pos, end - pos);
    if (nFields == 0) {
      cmd.sVerb = std::string(field);
      cmd.verb = VerbOf(field);
    } else {
      cmd.anNumbers[cmd.nNumbers++] = ParseNumber(field);
    }
    ++nFields;
    pos = end;
  }
  *pCommand = std::move(cmd);
  return TRUE;
}

}  // namespace orvalo
