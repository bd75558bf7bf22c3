// CEpochSender: the Korin sender whose low water follows epochs. It records
// the sequence at which each epoch began (the newest 63) and keeps the low
// water at the start of the oldest epoch still valid; SetLowWater through the
// interface is refused.
//
// Thread safety: SetEpoch is called by the one thread that sends.
#pragma once

#include "korin/IEpochSender.h"
#include "korin/KORINsender.h"

class CEpochSender : public IEpochSender, public CKORINsender {
 public:
  static constexpr int kRingSize = 63;
  static constexpr DWORD kFirstEpoch = 63;

  CEpochSender();

  BOOL SetEpoch(DWORD dwEpoch, DWORD dwValidEpochs) override;
  // Always FALSE: the low water moves only through SetEpoch.
  BOOL SetLowWater(DWORD dwLowWater) override;

 private:
  struct tEpochStart {
    DWORD dwFirstSequence;
    DWORD dwEpoch;
  };

  void RecordEpoch(DWORD dwEpoch);

  DWORD m_dwLastEpoch;
  DWORD m_dwValidEpochs;
  tEpochStart m_Ring[kRingSize];
  int m_nNextIndex;    // next slot to write
  int m_nOldestIndex;  // oldest slot held
  int m_nHeld;         // entries held, 0..63
};
