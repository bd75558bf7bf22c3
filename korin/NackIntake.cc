#include "korin/NackIntake.h"

#include <algorithm>

#include "ErrStuff/DebugTrace.h"
#include "korin/CacheResendList.h"
#include "platform/DebugOutput.h"

namespace {

void HandleRange(CCacheResendList* pCache, int nK, DWORD dwKeyLowWater, const tNACKRange& range,
                 const tNACKHeader& header) {
  const tNACKItem& first = range.FirstItem;
  const tNACKItem& last = range.LastItem;
  DebugTrace("[%lu.%u-%lu.%u]", static_cast<unsigned long>(first.Key), first.Count,
             static_cast<unsigned long>(last.Key), last.Count);
  if (first.Count == 0) return;  // no receiver asks for nothing
  if (first.Key >= dwKeyLowWater) {
    pCache->Request(first.Key, first.Count, header.HighRelKey, header.IndexMask);
  }
  if (last.Count == 0) return;
  // The keys in between miss all K packets; 64 bits so that no key wraps.
  ULONGLONG ullFrom = std::max<ULONGLONG>(ULONGLONG{first.Key} + static_cast<ULONGLONG>(nK),
                                          dwKeyLowWater);
  if (ullFrom < last.Key) {
    pCache->RequestKeysBetween(static_cast<DWORD>(ullFrom), last.Key, header.HighRelKey,
                               header.IndexMask);
  }
  if (last.Key >= dwKeyLowWater) {
    pCache->Request(last.Key, last.Count, header.HighRelKey, header.IndexMask);
  }
}

}  // namespace

KorinCheck HandleNACK(CCacheResendList* pCache, int nK, DWORD dwKeyLowWater, const BYTE* pData,
                      DWORD dwLen) {
  if (!ORV_ASSERT(pCache != NULL) || !ORV_ASSERT(nK > 0)) return KorinCheck::Empty;
  tNACKPacket packet;
  KorinCheck result = ParseNACKPacket(pData, dwLen, &packet);
  if (result != KorinCheck::Ok) return result;
  DebugTrace("Received NACK");
  for (DWORD i = 0; i < packet.bNumRanges; ++i) {
    if (packet.Ranges[i].LastItem.Key >= dwKeyLowWater) {
      HandleRange(pCache, nK, dwKeyLowWater, packet.Ranges[i], packet.Header);
    }
  }
  DebugTrace("\n");
  return result;
}
