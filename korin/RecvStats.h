// CRecvStats: a Korin receiver's running statistics of the data packets it
// has seen, kept as the header that every NACK it sends carries.
// Thread-safe: m_Lock guards m_Stats.
#pragma once

#include "korin/Wire.h"
#include "mcast/Lock.h"
#include "platform/Win32Types.h"

class CRecvStats {
 public:
  CRecvStats();
  virtual ~CRecvStats() = default;
  CRecvStats(const CRecvStats&) = delete;
  CRecvStats& operator=(const CRecvStats&) = delete;

  void InitStats(int nK) { m_nK = nK; }
  // Back to the state before the first packet.
  void ResetStats();
  // Takes one data packet's header into the statistics.
  void UpdateStats(const tSRMHeader& header);
  // A copy of the whole statistics header.
  tNACKHeader GetStats();

  DWORD GetMaxSeq();
  DWORD GetMaxKey();
  DWORD GetHighLowWater();

 protected:
  tNACKHeader m_Stats;  // guarded by m_Lock
  CLock m_Lock;
  int m_nK;  // set before the I/O thread starts, read-only afterwards
};
