// Presentation files are read from wherever a caller names them (and the
// audience's come from the network): any bytes are refused or read whole.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/PresentationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  // As it came, and sealed, so that the body's reader is reached too.
  host::PresentationContent content;
  if (host::ParsePresentation(text, &content) != 0 &&
      host::ParsePresentation(host::SealPresentationBody(text), &content) != 0)
    return 0;
  // What was read writes back to a file that reads the same.
  host::PresentationContent again;
  if (host::ParsePresentation(host::FormatPresentation(content), &again) != 0 ||
      !(again == content))
    std::abort();
  return 0;
}
