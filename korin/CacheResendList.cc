#include "korin/CacheResendList.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"

CCacheResendList::CCacheResendList()
    : m_nK(1),
      m_dwHoldOffMs(0),
      m_hRepairReady(nullptr),
      m_dwRepairsQueued(0),
      m_dwMaxCachedBytes(kDefaultMaxCachedBytes),
      m_dwCachedBytes(0),
      m_dwKeysDropped(0) {}

CCacheResendList::~CCacheResendList() {
  if (m_hRepairReady != nullptr) CloseHandle(m_hRepairReady);
}

BOOL CCacheResendList::Init(int nK, DWORD dwHoldOffMs, DWORD dwMaxCachedBytes) {
  if (!ORV_ASSERT(nK > 0 && nK <= KORIN_MAX_K)) return FALSE;
  m_nK = nK;
  m_dwHoldOffMs = dwHoldOffMs;
  m_dwMaxCachedBytes = dwMaxCachedBytes;
  if (m_hRepairReady == nullptr) {
    m_hRepairReady =
        CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  }
  return m_hRepairReady != nullptr ? TRUE : FALSE;
}

BOOL CCacheResendList::Store(const tSRMHeader& header, const WSABUF* pBuffers,
                             DWORD dwBufferCount) {
  if (!ORV_ASSERT(pBuffers != NULL) || !ORV_ASSERT(dwBufferCount > 0) ||
      !ORV_ASSERT(header.fReliable)) {
    return FALSE;
  }
  CLockGuard guard(&m_Lock);
  auto it = m_Entries.find(header.Key);
  if (it == m_Entries.end()) {
    std::unique_ptr<CCacheEntry> pEntry(new (std::nothrow)
                                            CCacheEntry(m_nK, header.Key, m_dwHoldOffMs));
    if (!pEntry) return FALSE;
    try {
      it = m_Entries.emplace(header.Key, std::move(pEntry)).first;
    } catch (const std::bad_alloc&) {
      return FALSE;
    }
    m_dwCachedBytes += kEntryChargeBytes;
  }
  const DWORD dwBefore = it->second->StoredBytes();
  const BOOL fResult = it->second->Store(header, pBuffers, dwBufferCount);
  m_dwCachedBytes += it->second->StoredBytes() - dwBefore;
  TrimLocked(header.Key);
  return fResult;
}

void CCacheResendList::TrimLocked(DWORD dwKeepKey) {
  auto it = m_Entries.begin();
  while (m_dwCachedBytes > m_dwMaxCachedBytes && it != m_Entries.end()) {
    if (it->first == dwKeepKey) {
      ++it;
      continue;
    }
    LeaveQueueLocked(it->second.get());
    m_dwCachedBytes -= it->second->StoredBytes() + kEntryChargeBytes;
    ++m_dwKeysDropped;
    it = m_Entries.erase(it);
  }
  if (m_RepairQueue.empty()) ResetEvent(m_hRepairReady);
}

void CCacheResendList::RequestLocked(CCacheEntry* pEntry, DWORD dwCount, DWORD dwHighRelKey,
                                     DWORD dwIndexMask) {
  DWORD dwBefore = pEntry->RepairsQueued();
  if (pEntry->QueueRepairs(dwHighRelKey, dwIndexMask, dwCount)) {
    m_RepairQueue.push_back(pEntry);
    SetEvent(m_hRepairReady);
  }
  m_dwRepairsQueued += pEntry->RepairsQueued() - dwBefore;
}

void CCacheResendList::Request(DWORD dwKey, DWORD dwCount, DWORD dwHighRelKey,
                               DWORD dwIndexMask) {
  CLockGuard guard(&m_Lock);
  auto it = m_Entries.find(dwKey);
  if (it == m_Entries.end()) {
    DebugTrace("Nothing cached for NACKed key %lu\n", static_cast<unsigned long>(dwKey));
    return;
  }
  RequestLocked(it->second.get(), dwCount, dwHighRelKey, dwIndexMask);
}

void CCacheResendList::RequestKeysBetween(DWORD dwFromKey, DWORD dwBelowKey, DWORD dwHighRelKey,
                                          DWORD dwIndexMask) {
  if (dwFromKey >= dwBelowKey) return;
  CLockGuard guard(&m_Lock);
  for (auto it = m_Entries.lower_bound(dwFromKey); it != m_Entries.end() && it->first < dwBelowKey;
       ++it) {
    RequestLocked(it->second.get(), static_cast<DWORD>(m_nK), dwHighRelKey, dwIndexMask);
  }
}

BOOL CCacheResendList::NextRepair(BYTE* pBuf, DWORD dwBufSize, CFECVarSize* pFEC,
                                  tSRMHeader* pHeader, DWORD* pdwPayloadBytes) {
  CLockGuard guard(&m_Lock);
  if (m_RepairQueue.empty()) return FALSE;
  CCacheEntry* pEntry = m_RepairQueue.front();
  BOOL fResult = FALSE;
  if (ORV_ASSERT(pEntry->RepairsQueued() > 0)) {
    fResult = pEntry->NextRepair(pBuf, dwBufSize, pFEC, pHeader, pdwPayloadBytes);
    --m_dwRepairsQueued;
  }
  if (pEntry->RepairsQueued() == 0) {
    m_RepairQueue.pop_front();
    if (m_RepairQueue.empty()) ResetEvent(m_hRepairReady);
  }
  return fResult;
}

void CCacheResendList::LeaveQueueLocked(CCacheEntry* pEntry) {
  auto it = std::find(m_RepairQueue.begin(), m_RepairQueue.end(), pEntry);
  if (it == m_RepairQueue.end()) return;
  m_RepairQueue.erase(it);
  DWORD dwQueued = m_dwRepairsQueued.load();
  if (ORV_ASSERT(dwQueued >= pEntry->RepairsQueued())) {
    m_dwRepairsQueued = dwQueued - pEntry->RepairsQueued();
  } else {
    m_dwRepairsQueued = 0;
  }
}

void CCacheResendList::Purge(DWORD dwKeyLowWater) {
  CLockGuard guard(&m_Lock);
  auto it = m_Entries.begin();
  while (it != m_Entries.end() && it->second->LastSequence() < dwKeyLowWater) {
    LeaveQueueLocked(it->second.get());
    m_dwCachedBytes -= it->second->StoredBytes() + kEntryChargeBytes;
    it = m_Entries.erase(it);
  }
  if (m_RepairQueue.empty()) ResetEvent(m_hRepairReady);
}

BOOL CCacheResendList::HasRepairs() {
  CLockGuard guard(&m_Lock);
  return m_RepairQueue.empty() ? FALSE : TRUE;
}

size_t CCacheResendList::GetKeysCached() {
  CLockGuard guard(&m_Lock);
  return m_Entries.size();
}

DWORD CCacheResendList::GetKeysDropped() {
  CLockGuard guard(&m_Lock);
  return m_dwKeysDropped;
}

DWORD CCacheResendList::GetCachedBytes() {
  CLockGuard guard(&m_Lock);
  return m_dwCachedBytes;
}
