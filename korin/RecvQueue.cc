#include "korin/RecvQueue.h"

#include <cstring>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Sync.h"

CRecvQueue::CRecvQueue(int nK)
    : m_nK(nK),
      m_pDecodeBufs{},
      m_dwMaxPacketSize(0),
      m_nDecodedLens{},
      m_dwMaxQueuedBytes(kDefaultMaxQueuedBytes),
      m_dwQueuedBytes(0),
      m_dwPacketsDropped(0),
      m_dwGroupsUndecodable(0),
      m_LowWater(0),
      m_hPacketReady(nullptr) {
  ORV_ASSERT(nK > 0 && nK <= CFECGroup::kMaxK);
}

CRecvQueue::~CRecvQueue() {
  for (BYTE*& pBuf : m_pDecodeBufs) {
    delete[] pBuf;
    pBuf = nullptr;
  }
  if (m_hPacketReady != nullptr) CloseHandle(m_hPacketReady);
}

BOOL CRecvQueue::Init(DWORD dwMaxPacketSize, DWORD dwMaxQueuedBytes) {
  CLockGuard guard(&m_Lock);
  if (!ORV_ASSERT(m_nK > 0 && m_nK <= CFECGroup::kMaxK)) return FALSE;
  m_hPacketReady = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  if (m_hPacketReady == nullptr) return FALSE;
  if (m_Coder.Init(m_nK, static_cast<int>(dwMaxPacketSize)) != 0) return FALSE;
  m_dwMaxPacketSize = dwMaxPacketSize;
  m_dwMaxQueuedBytes = dwMaxQueuedBytes;
  for (int i = 0; i < m_nK; ++i) {
    m_pDecodeBufs[i] = new (std::nothrow) BYTE[dwMaxPacketSize > 0 ? dwMaxPacketSize : 1];
    if (m_pDecodeBufs[i] == nullptr) return FALSE;
  }
  return TRUE;
}

CRecvQueue::tQueuedPacket* CRecvQueue::NewQueuedPacket() {
  return new (std::nothrow) tQueuedPacket();
}

BOOL CRecvQueue::IsReady() const { return !m_Packets.empty() || !m_Groups.empty(); }

void CRecvQueue::ResetIfIdle() {
  if (!IsReady()) ResetEvent(m_hPacketReady);
}

void CRecvQueue::MakeRoom(DWORD dwIncoming) {
  while (m_dwQueuedBytes + dwIncoming > m_dwMaxQueuedBytes && IsReady()) {
    if (!m_Packets.empty()) {
      m_dwQueuedBytes -= m_Packets.front()->dwLen + kRecordChargeBytes;
      m_Packets.pop_front();
      ++m_dwPacketsDropped;
    } else {
      const tDecodedGroup& group = *m_Groups.front();
      m_dwQueuedBytes -= group.dwCharge;
      m_dwPacketsDropped += static_cast<DWORD>(m_nK - group.nNext);
      m_Groups.pop_front();
    }
  }
}

BOOL CRecvQueue::AddPacket(const tSRMHeader& header, BYTE* pPayload, DWORD dwLen) {
  std::unique_ptr<BYTE[]> payload(pPayload);
  CLockGuard guard(&m_Lock);
  if (!m_Requests.empty()) {
    std::unique_ptr<CRecvReq> pReq = std::move(m_Requests.front());
    m_Requests.pop_front();
    pReq->Fill(payload.get(), dwLen, header.Sequence, header.LowWater, header.fReliable);
    pReq->Complete();
    return TRUE;
  }
  std::unique_ptr<tQueuedPacket> pRecord(NewQueuedPacket());
  if (pRecord == nullptr) return FALSE;
  pRecord->Header = header;
  pRecord->pPayload = std::move(payload);
  pRecord->dwLen = dwLen;
  MakeRoom(dwLen + kRecordChargeBytes);
  try {
    m_Packets.push_back(std::move(pRecord));
  } catch (const std::bad_alloc&) {
    ResetIfIdle();
    return FALSE;
  }
  m_dwQueuedBytes += dwLen + kRecordChargeBytes;
  SetEvent(m_hPacketReady);
  return TRUE;
}

std::unique_ptr<CRecvQueue::tDecodedGroup> CRecvQueue::Decode(CFECGroup* pGroup) {
  if (!pGroup->Decode(m_pDecodeBufs, m_dwMaxPacketSize, m_nDecodedLens, &m_Coder)) {
    return nullptr;
  }
  std::unique_ptr<tDecodedGroup> pDecoded(new (std::nothrow) tDecodedGroup());
  if (pDecoded == nullptr) return nullptr;
  DWORD dwTotal = 0;
  for (int i = 0; i < m_nK; ++i) {
    // The coder never yields more than a decode buffer holds.
    const int nLen = m_nDecodedLens[i];
    if (nLen < 0 || static_cast<DWORD>(nLen) > m_dwMaxPacketSize) return nullptr;
    pDecoded->dwOffsets[i] = dwTotal;
    pDecoded->dwLens[i] = static_cast<DWORD>(nLen);
    dwTotal += static_cast<DWORD>(nLen);
  }
  pDecoded->pData.reset(new (std::nothrow) BYTE[dwTotal > 0 ? dwTotal : 1]);
  if (pDecoded->pData == nullptr) return nullptr;
  for (int i = 0; i < m_nK; ++i) {
    if (pDecoded->dwLens[i] > 0) {
      std::memcpy(pDecoded->pData.get() + pDecoded->dwOffsets[i], m_pDecodeBufs[i],
                  pDecoded->dwLens[i]);
    }
  }
  pDecoded->dwKey = pGroup->GetFECKey();
  pDecoded->nNext = 0;
  pDecoded->dwCharge = dwTotal + kRecordChargeBytes * static_cast<DWORD>(m_nK);
  return pDecoded;
}

BOOL CRecvQueue::NextGroupPacket(const BYTE** ppData, DWORD* pdwLen, DWORD* pdwSequence) {
  if (m_Groups.empty()) return FALSE;
  tDecodedGroup& group = *m_Groups.front();
  const int i = group.nNext++;
  *ppData = group.pData.get() + group.dwOffsets[i];
  *pdwLen = group.dwLens[i];
  *pdwSequence = group.dwKey + static_cast<DWORD>(i);
  return TRUE;
}

void CRecvQueue::PopDeliveredGroup() {
  if (m_Groups.empty() || m_Groups.front()->nNext < m_nK) return;
  m_dwQueuedBytes -= m_Groups.front()->dwCharge;
  m_Groups.pop_front();
}

BOOL CRecvQueue::AddGroup(CFECGroup* pGroup) {
  std::unique_ptr<CFECGroup> group(pGroup);
  CLockGuard guard(&m_Lock);
  std::unique_ptr<tDecodedGroup> pDecoded = Decode(group.get());
  group.reset();
  if (pDecoded == nullptr) {
    ++m_dwGroupsUndecodable;
    DebugTrace("Group does not decode, dropped\n");
    return TRUE;
  }
  const DWORD dwCharge = pDecoded->dwCharge;
  MakeRoom(dwCharge);
  try {
    m_Groups.push_back(std::move(pDecoded));
  } catch (const std::bad_alloc&) {
    ResetIfIdle();
    return FALSE;
  }
  m_dwQueuedBytes += dwCharge;
  if (!m_Requests.empty() && m_Packets.empty()) {
    const BYTE* pData = nullptr;
    DWORD dwLen = 0;
    DWORD dwSequence = 0;
    if (NextGroupPacket(&pData, &dwLen, &dwSequence)) {
      std::unique_ptr<CRecvReq> pReq = std::move(m_Requests.front());
      m_Requests.pop_front();
      pReq->Fill(pData, dwLen, dwSequence, m_LowWater.load(), TRUE);
      pReq->Complete();
      PopDeliveredGroup();
    }
  }
  if (IsReady()) SetEvent(m_hPacketReady);
  return TRUE;
}

BOOL CRecvQueue::Recv(LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesRecvd,
                      sockaddr* lpFrom, int* lpFromlen, LPOVERLAPPED lpOverlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE,
                      LPDWORD pSequence, LPDWORD pLowWater, BOOL* pfReliable,
                      BOOL* pfPending) {
  auto pReq = std::unique_ptr<CRecvReq>(new (std::nothrow) CRecvReq(
      lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFrom, lpFromlen, lpOverlapped,
      lpCompletionROUTINE, pSequence, pLowWater, pfReliable));
  if (pReq == nullptr || !pReq->IsValid()) return FALSE;
  CLockGuard guard(&m_Lock);
  if (!m_Packets.empty()) {
    std::unique_ptr<tQueuedPacket> pPacket = std::move(m_Packets.front());
    m_Packets.pop_front();
    m_dwQueuedBytes -= pPacket->dwLen + kRecordChargeBytes;
    pReq->Fill(pPacket->pPayload.get(), pPacket->dwLen, pPacket->Header.Sequence,
               m_LowWater.load(), pPacket->Header.fReliable);
    *pfPending = FALSE;
    ResetIfIdle();
    return TRUE;
  }
  const BYTE* pData = nullptr;
  DWORD dwLen = 0;
  DWORD dwSequence = 0;
  if (NextGroupPacket(&pData, &dwLen, &dwSequence)) {
    pReq->Fill(pData, dwLen, dwSequence, m_LowWater.load(), TRUE);
    PopDeliveredGroup();
    *pfPending = FALSE;
    ResetIfIdle();
    return TRUE;
  }
  ResetIfIdle();
  try {
    m_Requests.push_back(std::move(pReq));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  *pfPending = TRUE;
  return TRUE;
}

void CRecvQueue::SetLowWater(DWORD dwLowWater) {
  if (dwLowWater <= m_LowWater.load()) return;
  InterlockedExchange(&m_LowWater, dwLowWater);
  const DWORD dwKeyLowWater = SEQ_TO_KEY(dwLowWater, m_nK);
  CLockGuard guard(&m_Lock);
  for (auto it = m_Groups.begin(); it != m_Groups.end();) {
    // The group being delivered stays.
    if ((*it)->dwKey < dwKeyLowWater && (*it)->nNext == 0) {
      m_dwQueuedBytes -= (*it)->dwCharge;
      it = m_Groups.erase(it);
    } else {
      ++it;
    }
  }
  ResetIfIdle();
}

void CRecvQueue::ResetLowWater(DWORD dwLowWater) { InterlockedExchange(&m_LowWater, dwLowWater); }

int CRecvQueue::Wait(DWORD dwMilliseconds) {
  return WaitForSingleObject(m_hPacketReady, dwMilliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

DWORD CRecvQueue::GetPacketsDropped() {
  CLockGuard guard(&m_Lock);
  return m_dwPacketsDropped;
}

DWORD CRecvQueue::GetGroupsUndecodable() {
  CLockGuard guard(&m_Lock);
  return m_dwGroupsUndecodable;
}

DWORD CRecvQueue::GetQueuedBytes() {
  CLockGuard guard(&m_Lock);
  return m_dwQueuedBytes;
}
