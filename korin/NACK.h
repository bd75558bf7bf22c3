// CNACK: one range of missing reliable packets, with its random retransmit
// timer and exponential back-off, and the packets of its first and last key
// received so far. Used only by the receiver I/O thread.
#pragma once

#include <memory>

#include "korin/FECGroup.h"
#include "korin/Wire.h"
#include "mcast/TickTimer.h"
#include "platform/Win32Types.h"

class CNACK {
 public:
  // Arms the timer at once. pGroup, when its key is the range's first or last
  // key, moves into that key's group (pGroup is left empty).
  CNACK(int nK, DWORD dwMinMs, DWORD dwMaxMs, int nBackoffCap, const tNACKRange& range,
        CFECGroup* pGroup);
  CNACK(const CNACK&) = delete;
  CNACK& operator=(const CNACK&) = delete;

  BOOL KeyInRange(DWORD dwKey) const {
    return m_Range.FirstItem.Key <= dwKey && dwKey <= m_Range.LastItem.Key;
  }
  // New random delay, doubled per earlier arming up to the back-off cap.
  void Arm();
  BOOL IsDue() const { return m_Timer.Elapsed() > m_dwDueMs; }
  // Milliseconds until due (negative once overdue); orders NACKs of
  // different clocks against each other.
  LONG MsUntilDue() const { return static_cast<LONG>(m_dwDueMs - m_Timer.Elapsed()); }
  BOOL IsEmpty() const { return m_fEmpty; }
  int GetRetries() const { return m_nRetries; }
  int GetFirstCached() const { return m_FirstGroup.GetNumCached(); }
  int GetLastCached() const { return m_LastGroup.GetNumCached(); }
  const tNACKRange& GetRange() const { return m_Range; }
  tNACKRange& Range() { return m_Range; }

  // Takes a reliable packet whose key lies in the range. A key strictly inside
  // splits the range: *ppSplit gets the new NACK from that key on (same timer
  // and retry count), which takes the packet. When a key's count reaches 0 its
  // group goes to *ppGroup (caller owns it; may be null) and the range
  // shrinks. FALSE when a copy cannot be allocated.
  BOOL Store(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
             std::unique_ptr<CFECGroup>* ppGroup, std::unique_ptr<CNACK>* ppSplit);

 private:
  CNACK(const CNACK& from, const tNACKRange& range);  // split: same clock and retries
  BOOL StoreAtEnd(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                  std::unique_ptr<CFECGroup>* ppGroup);
  void ShrinkFirst();
  void ShrinkLast();

  CTickTimer m_Timer;
  int m_nK;
  DWORD m_dwDueMs;  // on m_Timer's clock
  int m_nRetries;
  tNACKRange m_Range;
  CFECGroup m_FirstGroup;
  CFECGroup m_LastGroup;
  BOOL m_fEmpty;
  DWORD m_dwMinMs;
  DWORD m_dwMaxMs;
  int m_nBackoffCap;
};
