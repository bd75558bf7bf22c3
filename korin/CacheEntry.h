// CCacheEntry: the sender's copy of the reliable packets of one key, and the
// repairs receivers asked for. Until all K source packets of the key are
// stored the entry resends source packets; afterwards it sends parity repairs
// (indexes K..255, then 0.. again) made by the variable-size erasure coder.
//
// Times are milliseconds on the entry's own stopwatch, started at creation.
// Not thread-safe: CCacheResendList calls it under its lock.
#pragma once

#include <memory>

#include "korin/Wire.h"
#include "mcast/TickTimer.h"
#include "mcast/Winsock.h"
#include "platform/Win32Types.h"

class CFECVarSize;

class CCacheEntry {
 public:
  // REQUIRES: 1 <= nK <= 16.
  CCacheEntry(int nK, DWORD dwKey, DWORD dwHoldOffMs);
  CCacheEntry(const CCacheEntry&) = delete;
  CCacheEntry& operator=(const CCacheEntry&) = delete;

  // Copies the gathered payload of a sent reliable packet of this key. FALSE
  // for a header of another key or index, or when out of memory.
  BOOL Store(const tSRMHeader& header, const WSABUF* pBuffers, DWORD dwBufferCount);

  // Queues repairs for a NACK asking dwCount packets of this key; the NACK's
  // header said the receiver's highest reliable key is dwHighRelKey and it
  // holds the source indexes in dwIndexMask of that key. Returns TRUE when
  // the entry had no repairs queued before and has some now.
  BOOL QueueRepairs(DWORD dwHighRelKey, DWORD dwIndexMask, DWORD dwCount);

  // Writes the next repair: its header to *pHeader, its payload into pBuf
  // (dwBufSize bytes; a longer source packet is cut), the payload's length to
  // *pdwPayloadBytes. Consumes one requested repair even when it fails. FALSE
  // when nothing is requested or the coder fails.
  BOOL NextRepair(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC, tSRMHeader* pHeader,
                  DWORD* pdwPayloadBytes);

  DWORD RepairsQueued() const { return m_dwRequested; }
  // Payload bytes held.
  DWORD StoredBytes() const { return m_dwStoredBytes; }
  DWORD Key() const { return m_Key; }
  DWORD LastSequence() const { return KEY_LAST_SEQ(m_Key, m_nK); }
  BOOL IsComplete() const { return m_nStored >= m_nK; }

 private:
  BOOL QueueSourceResends(DWORD dwHighRelKey, DWORD dwIndexMask, DWORD dwNowMs);
  BOOL QueueParity(DWORD dwCount, DWORD dwNowMs);
  BOOL NextSourceResend(BYTE* pBuf, DWORD dwBufSize, tSRMHeader* pHeader,
                        DWORD* pdwPayloadBytes, DWORD dwNowMs);
  BOOL NextParity(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC, tSRMHeader* pHeader,
                  DWORD* pdwPayloadBytes, DWORD dwNowMs);
  void CopySource(int nIndex, BYTE* pBuf, DWORD dwBufSize, DWORD* pdwPayloadBytes) const;

  CTickTimer m_Timer;
  int m_nK;
  DWORD m_dwLastSendMs[KORIN_MAX_K];    // per source index: sent or last resent
  DWORD m_dwRepairHistoryMs[KORIN_MAX_K];  // send times of repairs, newest first
  std::unique_ptr<BYTE[]> m_pPayload[KORIN_MAX_K];
  DWORD m_dwLen[KORIN_MAX_K];
  DWORD m_Key;
  int m_nStored;
  int m_nNextIndex;      // next repair index of a complete key, K..255, 0..
  DWORD m_dwRepairsSent;  // repairs of a complete key sent, for the history depth
  DWORD m_dwRequested;   // repairs still to send
  DWORD m_dwHighLowWater;  // highest LowWater of the stored packets' headers
  DWORD m_dwQueuedMask;  // source indexes queued for resend
  DWORD m_dwHoldOffMs;
  DWORD m_dwStoredBytes = 0;
};
