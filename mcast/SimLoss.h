// CSimLoss: simulated datagram loss for tests of the transport. Drops a set
// percentage of datagrams, drawn from the platform's per-thread generator.
//
// Not thread-safe: the port touches it only under its own lock.
#pragma once

#include "platform/Win32Types.h"

class CSimLoss {
 public:
  explicit CSimLoss(float fPercent);
  CSimLoss(const CSimLoss&) = delete;
  CSimLoss& operator=(const CSimLoss&) = delete;

  // Clamps to 0..100 (anything not at least 0, NaN included, becomes 0),
  // stores percent * 100 truncated, and reseeds the generator with the tick count.
  void SetLossPerc(float fPercent);

  // TRUE when a draw of 0..9999 is at most the stored value; so 100 percent
  // drops everything and a stored 0 still drops one datagram in 10000.
  BOOL Drop();

  int GetLossHundredths() const { return m_nLossHundredths; }

 private:
  int m_nLossHundredths;  // 0..10000
};
