// Datagrams from the network into the receiver's file map: each input is a
// run of datagrams of 24 header bytes and a 64-byte payload (the last one
// padded with zeros), of which a reserved header bit may keep only 32. Nothing may crash, and
// nothing but bare names may appear in the save folder.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "Pelago/RecvFiles.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

namespace {

constexpr std::size_t kPayloadLen = 64;

const std::string& SaveDir() {
  static const std::string dir = [] {
    platform::SetDebugOutputHook([](std::string_view) {});
    std::string d;
    platform::CreateTempDirectory("pelago_fuzz", &d);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = SaveDir();
  bool fWrote = false;
  {
    CRecvFiles files(dir);
    for (std::size_t pos = 0; pos < size; pos += tPacketHeader::kSize + kPayloadLen) {
      std::uint8_t buf[tPacketHeader::kSize + kPayloadLen] = {};
      std::memcpy(buf, data + pos, std::min(sizeof buf, size - pos));
      tPacketHeader h;
      std::memcpy(h.m_Bytes, buf, tPacketHeader::kSize);
      // Keep streams small enough that some complete.
      h.SetTotalLen(h.GetTotalLen() % (8 * 16 * kPayloadLen + 1));
      // A reserved bit picks a shorter payload, as after the packet thread
      // learned the length again.
      const DWORD dwLen = (h.m_Bytes[22] & 1) != 0 ? kPayloadLen / 2 : kPayloadLen;
      if (files.OnDatagram(h, buf + tPacketHeader::kSize, dwLen).fStarted) fWrote = true;
    }
  }
  if (fWrote) {
    platform::DeleteTree(dir);
    platform::CreateDirectory(dir);
  }
  return 0;
}
