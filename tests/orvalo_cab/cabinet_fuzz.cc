// Extracts hostile cabinets into a private temporary folder. Most inputs are
// read as patches to a valid cabinet, so that the fuzzer gets past the magic
// and the headers into the file entries and the compressed data; an input
// starting with 'R' is used raw.
#include <cstddef>
#include <cstdint>
#include <string>

#include "orvalo/Cabinet.h"
#include "platform/File.h"

namespace {

struct Folder {
  Folder() {
    platform::CreateTempDirectory("cabfuzz", &dir);
    platform::CreateDirectory(platform::JoinPath(dir, "out"));
    // The base: one file with text and noise, compressed as a slide would be.
    std::string file;
    std::uint32_t x = 1;
    for (int i = 0; i < 3000; ++i) {
      x = x * 1103515245 + 12345;
      file.push_back(i % 512 < 256 ? char('a' + i % 5) : char(x >> 24));
    }
    const std::string src = platform::JoinPath(dir, "_OV_sld1.ppt");
    platform::WriteWholeFile(src, file.data(), file.size());
    orvalo::Compress(src.c_str());
    platform::ReadWholeFile(src + ".cab", &base);
    platform::DeleteFile(src);
    platform::DeleteFile(src + ".cab");
  }
  ~Folder() { platform::DeleteTree(dir); }
  std::string dir;
  std::string base;
};

std::string Patched(const std::string& base, const uint8_t* data, size_t size) {
  std::string cab = base;
  if (cab.empty()) return cab;
  for (size_t i = 0; i + 2 < size; i += 3) {
    cab[(data[i] | (data[i + 1] << 8)) % cab.size()] = static_cast<char>(data[i + 2]);
  }
  if (size % 3 == 1) cab.resize((size_t{data[size - 1]} * 97) % (cab.size() + 1));
  return cab;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Folder folder;
  const std::string cab = platform::JoinPath(folder.dir, "in.cab");
  const std::string dest = platform::JoinPath(folder.dir, "out/");
  const std::string bytes = size > 0 && data[0] == 'R'
                                ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1)
                                : Patched(folder.base, data, size);
  platform::WriteWholeFile(cab, bytes.data(), bytes.size());
  char szOut[MAX_PATH + 1];
  // A refused cabinet leaves the folder empty; an accepted one its one file.
  if (orvalo::Extract(cab.c_str(), dest.c_str(), szOut)) platform::DeleteFile(szOut);
  return 0;
}
