#include "orvalo/Launcher/Arguments.h"

#include <algorithm>
#include <cstring>

#include "orvalo/Launcher/RegSettings.h"

namespace {

struct tArgRule {
  const char* szName;
  bool fNumber;
  DWORD dwMin;  // numbers
  DWORD dwMax;
  DWORD cchMax;  // texts
};

// The highest rate whose bytes per second (kbps * 125) the multicast port accepts.
constexpr DWORD kMaxRateKbps = 0x3FFFFFF / 125;

constexpr tArgRule kRules[kArgPresentation + 1] = {
    {"", false, 0, 0, 0},
    {"MAddr", false, 0, 0, kMaxSettingTextChars},
    {"MPort", true, 1, 65535, 0},
    {"LAddr", false, 0, 0, kMaxSettingTextChars},
    {"LPort", true, 1, 65535, 0},
    {"TTL", true, 0, 255, 0},
    {"MaxRate", true, 1, kMaxRateKbps, 0},
    {"Presentation", false, 0, 0, kMaxPresentationChars},
};

}  // namespace

BOOL ParseNumberArgument(LPCSTR szArg, DWORD dwMin, DWORD dwMax, DWORD* pdwValue) {
  const char* p = szArg;
  while (*p == ' ' || *p == '\t') ++p;
  bool fNegative = false;
  if (*p == '+' || *p == '-') fNegative = *p++ == '-';
  if (*p < '0' || *p > '9') return FALSE;
  unsigned long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = std::min(value * 10 + static_cast<unsigned>(*p - '0'), 0x100000000ull);
  }
  if (*p != '\0') return FALSE;
  if (fNegative && value != 0) return FALSE;
  if (value < dwMin || value > dwMax) return FALSE;
  *pdwValue = static_cast<DWORD>(value);
  return TRUE;
}

BOOL CheckArguments(int nArgs, char* const* ppszArgs, DWORD pdwNumbers[kArgPresentation + 1],
                    std::FILE* out) {
  std::fill(pdwNumbers, pdwNumbers + kArgPresentation + 1, 0);
  const int nLast = std::min(nArgs - 1, kArgPresentation);
  for (int i = 1; i <= nLast; ++i) {
    const tArgRule& rule = kRules[i];
    if (rule.fNumber) {
      if (!ParseNumberArgument(ppszArgs[i], rule.dwMin, rule.dwMax, &pdwNumbers[i])) {
        std::fprintf(out, "%s must be a number from %u to %u, not \"%s\"\n", rule.szName,
                     rule.dwMin, rule.dwMax, ppszArgs[i]);
        return FALSE;
      }
    } else if (std::strlen(ppszArgs[i]) > rule.cchMax) {
      std::fprintf(out, "%s is too long: at most %u characters\n", rule.szName, rule.cchMax);
      return FALSE;
    }
  }
  return TRUE;
}
