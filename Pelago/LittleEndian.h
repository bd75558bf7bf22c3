// Explicit little-endian loads and stores for the wire and record formats.
#pragma once

#include "platform/Win32Types.h"

namespace pelago {

inline DWORD LoadLE32(const BYTE* p) {
  return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16) | (DWORD{p[3]} << 24);
}
inline void StoreLE32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}
inline WORD LoadLE16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline void StoreLE16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}

}  // namespace pelago
