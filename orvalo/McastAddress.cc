#include "orvalo/McastAddress.h"

#include <cstring>

namespace orvalo {
namespace {

// Parses the four parts into *pdwAddr (host order). Leading zeros are taken
// as decimal, as dotted addresses are meant here.
bool ParseDotted(const char* sz, DWORD* pdwAddr) {
  if (sz == nullptr || std::strlen(sz) > 15) return false;
  DWORD dwAddr = 0;
  for (int nPart = 0; nPart < 4; ++nPart) {
    if (nPart > 0 && *sz++ != '.') return false;
    if (*sz < '0' || *sz > '9') return false;
    DWORD dwValue = 0;
    int nDigits = 0;
    while (*sz >= '0' && *sz <= '9') {
      if (++nDigits > 3) return false;
      dwValue = dwValue * 10 + static_cast<DWORD>(*sz++ - '0');
    }
    if (dwValue > 255) return false;
    dwAddr = (dwAddr << 8) | dwValue;
  }
  if (*sz != '\0') return false;
  *pdwAddr = dwAddr;
  return true;
}

}  // namespace

BOOL IsMulticastAddress(const char* szDottedAddr) {
  DWORD dwAddr = 0;
  return ParseDotted(szDottedAddr, &dwAddr) && (dwAddr >> 28) == 0xE;
}

}  // namespace orvalo
