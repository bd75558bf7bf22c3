// Feeds runs of hostile live packets to a joined audience engine: each input
// is a series of records (2-byte length, 1-byte sequence step, 1-byte low
// water step, then that many packet bytes), handed to HandlePacket one by one
// as the bridge would. Nothing may crash, and nothing may stay behind in the
// temporary folder, which is the only place the engine writes to.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "mcast/Multicast.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/PacketAndInfo.h"
#include "platform/File.h"
#include "tests/orvalo_engines/FakeCOA.h"

namespace {

struct tJoined {
  tJoined() {
    platform::CreateTempDirectory("packetfuzz", &sDir);
    sDir += '/';
    setenv("TMPDIR", sDir.c_str(), 1);
    CMulticast::SetInterfaceForTesting("127.0.0.1");
    fake_coa::Reset();
    const WORD wPort = static_cast<WORD>(20000 + getpid() % 40000);
    if (!audience.Init("239.201.1.1", wPort, 1, 0, "", "", "", "")) std::abort();
    // A small bound, so that the trimming is reached within one input.
    audience.SetMaxPendingBytes(64 * 1024);
  }
  std::string sDir;
  CAudienceMember audience;
};

tJoined& Joined() {
  static tJoined* s_pJoined = new tJoined;  // lives to the end of the process
  return *s_pJoined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  tJoined& joined = Joined();
  joined.audience.ResetLiveStateForTesting();
  fake_coa::Reset();
  DWORD dwSeq = 100, dwLowWater = 0;
  while (nSize >= 4) {
    const std::size_t nLen = std::min<std::size_t>(pData[0] | (pData[1] << 8), nSize - 4);
    dwSeq += static_cast<std::int8_t>(pData[2]);  // may repeat or go back
    dwLowWater += pData[3] & 0x3;
    pData += 4;
    nSize -= 4;
    if (nLen > 0) {
      CPacketAndInfo pai(pData, static_cast<DWORD>(nLen), dwSeq, dwLowWater);
      joined.audience.HandlePacket(&pai);
    }
    pData += nLen;
    nSize -= nLen;
  }
  if (!std::filesystem::is_empty(joined.sDir)) {
    std::fprintf(stderr, "files left in the temporary folder\n");
    std::abort();
  }
  return 0;
}
