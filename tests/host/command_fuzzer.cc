// Standard-input commands come from a person or a script: any line is a
// command or a refusal with a reason.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/HostApplication.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  host::UserCommand cmd;
  std::string why;
  if (!host::ParseUserCommand(line, &cmd, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (cmd.action == host::UserAction::kGoto && cmd.nSlide < 1) std::abort();
  if (cmd.action == host::UserAction::kPen) {
    if (cmd.points.empty() || cmd.points.size() > host::kMaxPenPoints) std::abort();
    for (const host::PenPoint& p : cmd.points)
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) std::abort();
  }
  return 0;
}
