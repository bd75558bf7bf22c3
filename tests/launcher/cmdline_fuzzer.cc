// Command lines: any text splits without fault, and any argument quoted comes
// back from the split exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Process.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::SplitCommandLine(text);
  const auto args = platform::SplitCommandLine("prog " + platform::QuoteArgument(text) + " x");
  if (args.size() != 3 || args[1] != text || args[2] != "x") std::abort();
  return 0;
}
