// CPacketQueueEntry: one packet buffer of the packet receive thread's ring: a
// received header and its payload. Ownership passes by the free flag: the
// packet thread fills an entry only while the flag is 1; the receive thread
// sets it back to 1 when it has consumed the entry.
#pragma once

#include <atomic>
#include <utility>

#include "Pelago/PacketHeader.h"
#include "mcast/McastQueue.h"
#include "platform/Win32Types.h"

class CPacketQueueEntry {
 public:
  CPacketQueueEntry();
  ~CPacketQueueEntry() { Release(); }
  CPacketQueueEntry(const CPacketQueueEntry&) = delete;
  CPacketQueueEntry& operator=(const CPacketQueueEntry&) = delete;

  // A buffer of dwLen bytes: 0, 87 for a length of 0, 1450 without memory
  // (the entry is then as constructed).
  DWORD Init(DWORD dwLen);
  // Frees the buffer; back to the constructed state.
  void Release();

  tPacketHeader* GetHeader() { return &m_Header; }
  BYTE* GetBuffer() { return m_pBuffer; }
  DWORD GetCapacity() const { return m_dwCapacity; }
  DWORD GetDataLen() const { return m_dwDataLen; }
  void SetDataLen(DWORD dwLen) { m_dwDataLen = dwLen; }
  // Trades header, buffer and data length with another entry. REQUIRES: the
  // caller holds both (neither is queued or being consumed).
  void SwapContents(CPacketQueueEntry* pOther) {
    std::swap(m_Header, pOther->m_Header);
    std::swap(m_pBuffer, pOther->m_pBuffer);
    std::swap(m_dwDataLen, pOther->m_dwDataLen);
    std::swap(m_dwCapacity, pOther->m_dwCapacity);
  }
  BOOL IsFree() const { return m_lFree.load() != 0; }
  void SetFree(BOOL fFree) { InterlockedExchange(&m_lFree, static_cast<LONG>(fFree ? 1 : 0)); }

 private:
  std::atomic<LONG> m_lFree;  // the hand-over between the two threads
  tPacketHeader m_Header;     // owned by whoever holds the entry (see m_lFree)
  BYTE* m_pBuffer;            // likewise
  DWORD m_dwDataLen;          // likewise
  DWORD m_dwCapacity;
};

// Ring entries belong to the ring: a flush with deletion hands them back.
template <>
struct CMcastQueueItem<CPacketQueueEntry> {
  static void Dispose(CPacketQueueEntry* pEntry) { pEntry->SetFree(TRUE); }
};
