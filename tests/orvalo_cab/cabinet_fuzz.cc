// Extracts arbitrary bytes as a cabinet into a private temporary folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "orvalo/Cabinet.h"
#include "platform/File.h"

namespace {
struct Folder {
  Folder() { platform::CreateTempDirectory("cabfuzz", &dir); }
  ~Folder() { platform::DeleteTree(dir); }
  std::string dir;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Folder folder;
  const std::string cab = platform::JoinPath(folder.dir, "in.cab");
  const std::string dest = platform::JoinPath(folder.dir, "out/");
  platform::DeleteTree(dest);
  platform::CreateDirectory(dest);
  platform::WriteWholeFile(cab, data, size);
  char szOut[MAX_PATH + 1];
  orvalo::Extract(cab.c_str(), dest.c_str(), szOut);
  return 0;
}
