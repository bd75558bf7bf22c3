// GUIDs (interface and class identifiers): the record, comparison, and the
// registry's text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <string>
#include <string_view>

#include "platform/Win32Types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};
inline constexpr CLSID CLSID_NULL{};

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

namespace com {

namespace detail {
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace detail

// Parses the braced text form (hex digits of either case). False, leaving
// *pGuid alone, for anything else.
constexpr bool ParseGuid(std::string_view text, GUID* pGuid) {
  // Positions of the 32 digits in "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
  if (text.size() != 38 || text[0] != '{' || text[37] != '}') return false;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return false;
  BYTE bytes[16] = {};
  int n = 0;
  for (std::size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) continue;
    int d = detail::HexDigit(text[i]);
    if (d < 0) return false;
    bytes[n / 2] = static_cast<BYTE>(bytes[n / 2] * 16 + d);
    ++n;
  }
  GUID g{};
  g.Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  *pGuid = g;
  return true;
}

// A GUID from a literal checked at compile time:
//   inline constexpr CLSID CLSID_X = com::MakeGuid("{B29546A9-5422-11D3-A3CE-00A0C9AF07ED}");
consteval GUID MakeGuid(std::string_view text) {
  GUID g{};
  if (!ParseGuid(text, &g)) throw "not a braced GUID";
  return g;
}

// The braced text form with upper-case digits.
std::string FormatGuid(const GUID& g);

}  // namespace com
