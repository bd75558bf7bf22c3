// CCacheResendList: the sender's repair cache. It keeps one CCacheEntry per
// key of the reliable packets sent and not yet purged, and a FIFO repair
// queue of the entries that receivers asked repairs of.
//
// The cache is bounded in bytes: a sender whose low water never rises loses
// its oldest keys (counted) rather than growing without limit.
//
// Thread-safe: the I/O thread stores, requests and takes repairs, the
// sender's callers purge (through SetLowWater) and read the repair count.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>

#include "korin/CacheEntry.h"
#include "korin/Wire.h"
#include "mcast/Lock.h"
#include "mcast/Winsock.h"
#include "platform/Win32Types.h"

class CFECVarSize;

class CCacheResendList {
 public:
  CCacheResendList();
  ~CCacheResendList();
  CCacheResendList(const CCacheResendList&) = delete;
  CCacheResendList& operator=(const CCacheResendList&) = delete;

  // What the cached payloads may hold before the oldest keys are dropped.
  static constexpr DWORD kDefaultMaxCachedBytes = 32 * 1024 * 1024;
  // Each cached key is charged this much beyond its payloads.
  static constexpr DWORD kEntryChargeBytes = sizeof(CCacheEntry) + 64;

  // Creates the repair-ready event. FALSE if it cannot be created.
  // REQUIRES: 1 <= nK <= 16; called once, before any other call.
  BOOL Init(int nK, DWORD dwHoldOffMs, DWORD dwMaxCachedBytes = kDefaultMaxCachedBytes);

  // Keeps a copy of a sent reliable packet, dropping the oldest other keys
  // while the cache is beyond its bound. FALSE when out of memory.
  BOOL Store(const tSRMHeader& header, const WSABUF* pBuffers, DWORD dwBufferCount);

  // A NACK asks dwCount packets of dwKey; dwHighRelKey and dwIndexMask come
  // from the NACK's header. An uncached key traces
  // "Nothing cached for NACKed key %lu\n" and changes nothing.
  void Request(DWORD dwKey, DWORD dwCount, DWORD dwHighRelKey, DWORD dwIndexMask);
  // Request(key, nK, ...) for every cached key in [dwFromKey, dwBelowKey).
  // Work is bounded by the entries cached, whatever the keys.
  void RequestKeysBetween(DWORD dwFromKey, DWORD dwBelowKey, DWORD dwHighRelKey,
                          DWORD dwIndexMask);

  // Takes the next repair of the front entry of the repair queue into pBuf
  // (see CCacheEntry::NextRepair). FALSE when the queue is empty or the
  // repair could not be made (the request is consumed either way).
  BOOL NextRepair(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC, tSRMHeader* pHeader,
                  DWORD* pdwPayloadBytes);

  // Forgets every key whose last sequence is below dwKeyLowWater, with its
  // queued repairs.
  void Purge(DWORD dwKeyLowWater);

  BOOL HasRepairs();
  // Manual-reset, signalled while the repair queue is not empty.
  HANDLE GetRepairReadyEvent() const { return m_hRepairReady; }
  DWORD GetRepairsQueued() const { return m_dwRepairsQueued.load(); }
  size_t GetKeysCached();
  // Keys dropped for the bound, their repairs with them.
  DWORD GetKeysDropped();
  DWORD GetCachedBytes();

 private:
  void RequestLocked(CCacheEntry* pEntry, DWORD dwCount, DWORD dwHighRelKey, DWORD dwIndexMask);
  void LeaveQueueLocked(CCacheEntry* pEntry);
  void TrimLocked(DWORD dwKeepKey);

  int m_nK;
  std::map<DWORD, std::unique_ptr<CCacheEntry>> m_Entries;  // guarded by m_Lock
  std::deque<CCacheEntry*> m_RepairQueue;  // guarded by m_Lock; entries of m_Entries
  CLock m_Lock;
  DWORD m_dwHoldOffMs;
  HANDLE m_hRepairReady;  // set and reset under m_Lock
  std::atomic<DWORD> m_dwRepairsQueued;  // written under m_Lock, read by anyone
  DWORD m_dwMaxCachedBytes;
  DWORD m_dwCachedBytes;  // guarded by m_Lock; payloads and entry charges
  DWORD m_dwKeysDropped;  // guarded by m_Lock
};
