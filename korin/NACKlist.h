// CNACKlist: a Korin receiver's view of the data stream. It takes in every
// datagram of the group, tracks missing reliable packets as CNACK ranges
// ordered by due time, builds the NACK packets, postpones NACKs that other
// receivers' NACKs cover, gathers FEC groups and feeds the receive queue.
//
// Datagrams are hostile: one that breaks what every sender keeps (the key
// and index of its sequence, a source packet's length, a low water that is a
// key not beyond the packet) is dropped; one more than kSequenceWindow ahead
// of the stream is dropped; and a low water takes effect only once two
// datagrams in a row carry it. Should nothing within the window come for kStartOverMs, the next
// datagram starts the receiver over at its position.
//
// Used only by the receiver I/O thread (the statistics it derives from have
// their own lock).
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>

#include "korin/FECGroup.h"
#include "korin/NACK.h"
#include "korin/RecvQueue.h"
#include "korin/RecvStats.h"
#include "korin/Wire.h"
#include "platform/Win32Types.h"

class CNACKlist : public CRecvStats {
 public:
  // How far beyond the highest sequence seen one datagram may lie.
  static constexpr DWORD kSequenceWindow = 0x10000;
  // Silence within the window after which the stream is learned again.
  static constexpr DWORD kStartOverMs = 10000;

  explicit CNACKlist(int nK);
  ~CNACKlist() override;

  // Stores the NACK settings and the queue (not owned); sets K.
  BOOL InitList(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nBackoffCap, CRecvQueue* pQueue);

  // Takes in one datagram that passed the header check: dwLen payload bytes
  // after the 19-byte header. *pfIgnore TRUE: the payload is not for the
  // queue. FALSE: dropped (wrong type, malformed, out of memory).
  BOOL Intake(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen, BOOL* pfIgnore);

  // Fills pPacket (at least NACK_PACKET_MAX_LEN bytes) with the statistics and the
  // ranges of up to 16 NACKs from the head of the list, which wait in the
  // temporary list for AfterSend. FALSE when no NACK is due.
  BOOL BuildNACKPacket(BYTE* pPacket, DWORD* pdwLen);
  // Puts the NACKs of the last packet back by due time, re-armed when sent.
  BOOL AfterSend(BOOL fSent);
  // TRUE when the first NACK of the list is due.
  BOOL FirstDue() const;
  // TRUE when the first NACK of the list has been due for dwMs or longer.
  BOOL FirstOverdue(DWORD dwMs) const;
  // Drops every NACK whose last key lies below the key of dwLowWater.
  void PurgeBelow(DWORD dwLowWater);
  // Another receiver asked for `range`: postpones each NACK of ours it covers.
  void Suppress(const tNACKRange& range);

  // The low water in force, which the packets handed on report at most.
  DWORD GetLowWater() { return GetHighLowWater(); }
  // Data datagrams dropped as forged: implausible, or beyond the window.
  DWORD GetForgedDropped() const { return m_dwForgedDropped.load(); }

  // Inspection, for tests and traces.
  std::size_t GetNACKCount() const { return m_NACKs.size(); }
  const CNACK* GetNACK(std::size_t i) const;
  const CFECGroup& GetRecentGroup() const { return m_RecentGroup; }

 protected:
  CRecvQueue* Queue() const { return m_pQueue; }

 private:
  BOOL IntakeNACK(const BYTE* pPayload, DWORD dwLen);
  // The steps of a data packet's intake, in order.
  BOOL IsPlausible(const tSRMHeader& header, DWORD dwLen) const;
  BOOL IsBeyondWindow(const tSRMHeader& header);
  BOOL IsStale(const tSRMHeader& header);
  void TakeLowWater(tSRMHeader* pHeader);
  BOOL AddMissing(const tSRMHeader& header, DWORD dwOldMaxSeq);
  BOOL TakeReliable(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen, DWORD dwOldMaxSeq,
                    DWORD dwOldMaxKey, BOOL* pfIgnore);
  void StartOver();
  BOOL AddRange(tNACKRange range, CFECGroup* pGroup);
  BOOL HandleRecvRel(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen,
                     BOOL* pfHandled);
  BOOL StoreRecent(const tSRMHeader& header, const BYTE* pPayload, DWORD dwLen);
  BOOL TakeGroup(std::unique_ptr<CFECGroup> pGroup);
  void InsertByDue(std::unique_ptr<CNACK> pNACK);

  std::list<std::unique_ptr<CNACK>> m_NACKs;     // ordered by due time
  std::list<std::unique_ptr<CNACK>> m_TempList;  // in the NACK packet being sent
  int m_nListK;
  CFECGroup m_RecentGroup;  // newest key's packets that no NACK covers
  DWORD m_dwNackMinMs;
  DWORD m_dwNackMaxMs;
  int m_nBackoffCap;
  CRecvQueue* m_pQueue;  // not owned
  BOOL m_fStarted;       // a data packet was taken in
  DWORD m_dwLastInWindowTick;  // when a datagram last fell within the window
  DWORD m_dwPrevLowWater;      // the low water the previous datagram carried
  std::atomic<DWORD> m_dwForgedDropped;  // written by the I/O thread, read anywhere
};
