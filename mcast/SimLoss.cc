#include "mcast/SimLoss.h"

#include "platform/Random.h"
#include "platform/Tick.h"

namespace {

// A uniform draw of 0..9999. The generator gives 15 bits, and 32768 % 10000
// would favour the low values by a third; two draws and a rejection remove that.
int DrawTenThousandth() {
  constexpr unsigned kSpan = 1u << 30;
  constexpr unsigned kLimit = kSpan - kSpan % 10000u;
  for (;;) {
    unsigned r = (static_cast<unsigned>(platform::Random()) << 15) |
                 static_cast<unsigned>(platform::Random());
    if (r < kLimit) return static_cast<int>(r % 10000u);
  }
}

}  // namespace

CSimLoss::CSimLoss(float fPercent) : m_nLossHundredths(0) { SetLossPerc(fPercent); }

void CSimLoss::SetLossPerc(float fPercent) {
  if (fPercent > 100.0f) fPercent = 100.0f;
  if (!(fPercent >= 0.0f)) fPercent = 0.0f;
  m_nLossHundredths = static_cast<int>(fPercent * 100.0f);
  platform::SeedRandom(GetTickCount());
}

BOOL CSimLoss::Drop() { return DrawTenThousandth() <= m_nLossHundredths ? TRUE : FALSE; }
