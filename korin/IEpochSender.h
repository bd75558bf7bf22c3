// IEpochSender: a reliable sender whose low water follows epochs. The caller
// numbers its data in increasing epochs and says how many of the latest are
// still valid; receivers and the sender's repair cache forget the rest.
#pragma once

#include "korin/IReliableSender.h"

class IEpochSender : public virtual IReliableSender {
 public:
  // Starts epoch dwEpoch (when above the last one) and keeps the latest
  // dwValidEpochs (1..63) valid. FALSE for a decreasing epoch or a count
  // outside 1..63, and nothing changes then.
  virtual BOOL SetEpoch(DWORD dwEpoch, DWORD dwValidEpochs) = 0;
};
