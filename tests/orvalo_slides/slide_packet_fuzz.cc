// Feeds arbitrary datagrams through the receipt check and the readers an
// audience applies to an accepted packet.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <cstdlib>
#include <string>

#include "orvalo/Defragger.h"
#include "orvalo/PacketAndInfo.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/SlidePacket.h"

namespace {

// Slide files go to a private temporary folder for the fuzzer's lifetime.
struct TempFolder {
  TempFolder() {
    platform::CreateTempDirectory("slidefuzz", &dir);
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TempFolder() { platform::DeleteTree(dir); }
  std::string dir;
};

// An input starting with 'M' is a run of packets for one item, each a
// 2-byte length and that many bytes, so that the later slices reach the
// defragmenter too.
void OneItem(const uint8_t* data, size_t size) {
  CFileDefragger defragger;
  while (size >= 2) {
    const size_t n = std::min<size_t>(data[0] | (data[1] << 8), size - 2);
    data += 2;
    size -= 2;
    DWORD dwType = 0;
    if (n > 0 && orvalo::CheckSlidePacket(data, static_cast<DWORD>(n), &dwType) &&
        dwType == orvalo::kPacketTypeFileData) {
      CPacketAndInfo pai(data, static_cast<DWORD>(n), 1, 0);
      if (pai.IsValid()) defragger.AddPacket(pai.GetPacket(), pai.GetLen());
    }
    data += n;
    size -= n;
  }
  if (defragger.IsComplete()) defragger.Complete();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TempFolder folder;
  if (size == 0 || size > 65536) return 0;
  if (data[0] == 'M') {
    OneItem(data + 1, size - 1);
    return 0;
  }
  // A private copy of exactly the received bytes, as the audience keeps it.
  CPacketAndInfo pai(data, static_cast<DWORD>(size), 1, 0);
  if (!pai.IsValid()) return 0;
  const DWORD dwLen = pai.GetLen();
  DWORD dwType = 0;
  if (!orvalo::CheckSlidePacket(pai.GetPacket(), dwLen, &dwType)) return 0;
  const tPacketHeader* pHeader = tPacketHeader::Of(pai.GetPacket());
  tSlideInfo info{};
  UnpackSlideInfo(*pHeader, &info);
  volatile std::size_t sink = pHeader->GetTag().size() + info.dwSlide;
  if (dwType == orvalo::kPacketTypePoints) {
    CPtsPacket view(static_cast<const void*>(pai.GetPacket()), dwLen);
    tPtsPoint pt;
    for (DWORD i = 0; view.GetPoint(i, &pt); ++i) sink = sink + static_cast<std::size_t>(pt.x != pt.y);
    sink = sink + view.GetColor() + view.GetSize();
  } else if (dwType == orvalo::kPacketTypeFileData) {
    sink = sink + tSlidePacketHeader::Of(pai.GetPacket())->GetFileSlide();
    CFileDefragger defragger;
    if (defragger.AddPacket(pai.GetPacket(), dwLen) && defragger.IsComplete()) {
      defragger.Complete();
    }
  }
  (void)sink;
  return 0;
}
