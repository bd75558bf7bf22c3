// Fuzz target: any command string, parsed and run against a presenter that
// checks what it is handed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "orvalo/orvaloCommand.h"

namespace {

struct CCheckingPresenter {
  BOOL Goto(DWORD) { return TRUE; }
  BOOL Step(int, DWORD) { return TRUE; }
  BOOL SetScreen(DWORD) { return TRUE; }
  BOOL End() { return TRUE; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
  std::string_view s(reinterpret_cast<const char*>(pData), cb);
  orvalo::tCommand cmd;
  if (orvalo::ParseCommand(s, &cmd)) {
    if (cmd.nNumbers < 0 || cmd.nNumbers > 2) std::abort();
    if (s.size() > orvalo::kMaxCommandChars) std::abort();
  } else if (s.size() <= orvalo::kMaxCommandChars) {
    std::abort();
  }
  CCheckingPresenter presenter;
  orvalo::RunCommand(s, presenter);
  return 0;
}
