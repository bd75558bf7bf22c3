// Fuzzes the sender's NACK intake: the datagram check, the range walk and the
// repairs it queues, which are then all made (parity included).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fec/FECVarSize.h"
#include "korin/CacheResendList.h"
#include "korin/NackIntake.h"
#include "platform/DebugOutput.h"

namespace {

constexpr DWORD kBufSize = 1460;
constexpr DWORD kMaxPayload = 160;  // short packets keep runs fast

void Check(bool fHolds) {
  if (!fHolds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static bool s_fQuiet = (platform::SetDebugOutputHook([](std::string_view) {}), true);
  (void)s_fQuiet;
  if (nSize < 1) return 0;
  // The first byte chooses the sender's K and key low water, the rest is the
  // datagram.
  int nK = pData[0] % KORIN_MAX_K + 1;
  DWORD dwKeyLowWater = static_cast<DWORD>(nK) * ((pData[0] >> 4) % 4 + 1);

  // One coder per K, built once: its set-up costs more than a whole run.
  static CFECVarSize s_fec[KORIN_MAX_K];
  static bool s_fInit[KORIN_MAX_K] = {};
  CFECVarSize& fec = s_fec[nK - 1];
  if (!s_fInit[nK - 1]) {
    if (fec.Init(nK, static_cast<int>(kBufSize)) != 0) return 0;
    s_fInit[nK - 1] = true;
  }
  // With bit 7 set the cache holds only a few keys, so that storing drops
  // the oldest, queued repairs and all.
  CCacheResendList cache;
  const DWORD dwBound = (pData[0] & 0x80)
                            ? 4 * (CCacheResendList::kEntryChargeBytes + nK * kMaxPayload)
                            : CCacheResendList::kDefaultMaxCachedBytes;
  if (!cache.Init(nK, 0, dwBound)) return 0;
  // Eight keys sent, the last one incomplete, lengths varying.
  DWORD dwSeqEnd = static_cast<DWORD>(nK) * 9 - (nK > 1 ? 1 : 0);
  std::vector<BYTE> payload(kMaxPayload);
  auto store = [&](DWORD dwFrom, DWORD dwEnd) {
    for (DWORD s = dwFrom; s < dwEnd; ++s) {
      DWORD dwLen = (s * 97) % payload.size();
      for (DWORD i = 0; i < dwLen; ++i) payload[i] = static_cast<BYTE>(s + i);
      WSABUF buf = {dwLen, reinterpret_cast<char*>(payload.data())};
      cache.Store(MakeDataHeader(TRUE, s, nK, dwKeyLowWater, static_cast<WORD>(dwLen)), &buf, 1);
    }
  };
  store(static_cast<DWORD>(nK), dwSeqEnd);

  // With bit 6 set the datagram starts as a NACK and its range count fits
  // its length, so that most runs reach the range walk; otherwise it is
  // taken as it is.
  std::vector<BYTE> datagram(pData + 1, pData + nSize);
  if ((pData[0] & 0x40) && datagram.size() >= 4) {
    const BYTE abNack[4] = {0x01, 0x4E, 0xCF, 0x20};
    std::copy(abNack, abNack + 4, datagram.begin());
    if (datagram.size() >= NACK_PACKET_LEN(1)) {
      DWORD dwFit = (static_cast<DWORD>(datagram.size()) - NACK_RANGES_OFFSET) / NACK_RANGE_LEN;
      datagram[NACK_HEADER_LEN] = static_cast<BYTE>(std::min(dwFit, NACK_MAX_RANGES));
    }
  }
  HandleNACK(&cache, nK, dwKeyLowWater, datagram.data(), static_cast<DWORD>(datagram.size()));
  // Sending goes on while the repairs wait.
  store(dwSeqEnd, dwSeqEnd + 2 * static_cast<DWORD>(nK));
  Check(cache.GetCachedBytes() <=
        std::max(dwBound, CCacheResendList::kEntryChargeBytes + nK * kMaxPayload));

  // Every queued repair can be made, and there are at most K per key.
  DWORD dwQueued = cache.GetRepairsQueued();
  Check(dwQueued <= 11u * static_cast<DWORD>(nK));
  BYTE buf[kBufSize];
  DWORD dwMade = 0;
  while (cache.HasRepairs()) {
    tSRMHeader header;
    DWORD dwBytes = 0;
    Check(cache.NextRepair(buf, sizeof buf, &fec, &header, &dwBytes));
    Check(dwBytes <= sizeof buf);
    Check(header.Key >= dwKeyLowWater);
    ++dwMade;
  }
  Check(dwMade == dwQueued);
  Check(cache.GetRepairsQueued() == 0);
  return 0;
}
