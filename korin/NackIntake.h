// What the sender does with one received NACK datagram: check it and turn
// its ranges into repair requests on the repair cache. Hostile datagrams are
// harmless: malformed ones are ignored, ranges are read only from the bytes
// received, and the work per NACK is bounded by the keys cached.
#pragma once

#include "korin/Wire.h"
#include "platform/Win32Types.h"

class CCacheResendList;

// Ranges wholly below dwKeyLowWater are skipped, as are the keys of a range
// below it. Returns the datagram's check result (Ok when it was a NACK).
KorinCheck HandleNACK(CCacheResendList* pCache, int nK, DWORD dwKeyLowWater, const BYTE* pData,
                      DWORD dwLen);
