// Little-endian reads and writes of unaligned wire fields, independent of the
// host's byte order.
#pragma once

#include <cstring>

#include "platform/Win32Types.h"

namespace orvalo {

inline WORD LoadLe16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

inline DWORD LoadLe32(const BYTE* p) {
  return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16) | (DWORD{p[3]} << 24);
}

inline void StoreLe16(BYTE* p, WORD w) {
  p[0] = static_cast<BYTE>(w);
  p[1] = static_cast<BYTE>(w >> 8);
}

inline void StoreLe32(BYTE* p, DWORD dw) {
  p[0] = static_cast<BYTE>(dw);
  p[1] = static_cast<BYTE>(dw >> 8);
  p[2] = static_cast<BYTE>(dw >> 16);
  p[3] = static_cast<BYTE>(dw >> 24);
}

inline float LoadLeFloat(const BYTE* p) {
  const DWORD dw = LoadLe32(p);
  float f;
  std::memcpy(&f, &dw, sizeof f);
  return f;
}

inline void StoreLeFloat(BYTE* p, float f) {
  DWORD dw;
  std::memcpy(&dw, &f, sizeof dw);
  StoreLe32(p, dw);
}

}  // namespace orvalo
