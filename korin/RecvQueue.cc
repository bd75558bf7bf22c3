#include "korin/RecvQueue.h"

#include <new>

#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Sync.h"

CRecvQueue::CRecvQueue(int nK)
    : m_nK(nK), m_pDecodeBufs{}, m_nRemaining(0), m_dwMaxPacketSize(0), m_dwCurrentKey(0),
      m_nDecodedLens{}, m_LowWater(0), m_hPacketReady(nullptr) {
  ORV_ASSERT(nK > 0 && nK <= CFECGroup::kMaxK);
}

CRecvQueue::~CRecvQueue() {
  for (BYTE*& pBuf : m_pDecodeBufs) {
    delete[] pBuf;
    pBuf = nullptr;
  }
  if (m_hPacketReady != nullptr) CloseHandle(m_hPacketReady);
}

BOOL CRecvQueue::Init(DWORD dwMaxPacketSize) {
  CLockGuard guard(&m_Lock);
  if (!ORV_ASSERT(m_nK > 0 && m_nK <= CFECGroup::kMaxK)) return FALSE;
  m_hPacketReady = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  if (m_hPacketReady == nullptr) return FALSE;
  if (m_Coder.Init(m_nK, static_cast<int>(dwMaxPacketSize)) != 0) return FALSE;
  m_dwMaxPacketSize = dwMaxPacketSize;
  for (int i = 0; i < m_nK; ++i) {
    m_pDecodeBufs[i] = new (std::nothrow) BYTE[dwMaxPacketSize > 0 ? dwMaxPacketSize : 1];
    if (m_pDecodeBufs[i] == nullptr) return FALSE;
  }
  return TRUE;
}

CRecvQueue::tQueuedPacket* CRecvQueue::NewQueuedPacket() {
  return new (std::nothrow) tQueuedPacket();
}

BOOL CRecvQueue::IsReady() const {
  return !m_Packets.empty() || m_nRemaining > 0 || !m_Groups.empty();
}

void CRecvQueue::ResetIfIdle() {
  if (!IsReady()) ResetEvent(m_hPacketReady);
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
  try {
    m_Packets.push_back(std::move(pRecord));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  SetEvent(m_hPacketReady);
  return TRUE;
}

BOOL CRecvQueue::NextGroupPacket(const BYTE** ppData, DWORD* pdwLen, DWORD* pdwSequence) {
  while (m_nRemaining == 0) {
    if (m_Groups.empty()) return FALSE;
    std::unique_ptr<CFECGroup> pGroup = std::move(m_Groups.front());
    m_Groups.pop_front();
    if (pGroup->Decode(m_pDecodeBufs, m_dwMaxPacketSize, m_nDecodedLens, &m_Coder)) {
      m_dwCurrentKey = pGroup->GetFECKey();
      m_nRemaining = m_nK;
    }
    // A group that does not decode is dropped; the next one is tried.
  }
  const int i = m_nK - m_nRemaining;
  *ppData = m_pDecodeBufs[i];
  *pdwLen = static_cast<DWORD>(m_nDecodedLens[i]);
  *pdwSequence = m_dwCurrentKey + static_cast<DWORD>(i);
  --m_nRemaining;
  return TRUE;
}

BOOL CRecvQueue::AddGroup(CFECGroup* pGroup) {
  std::unique_ptr<CFECGroup> group(pGroup);
  CLockGuard guard(&m_Lock);
  try {
    m_Groups.push_back(std::move(group));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  if (m_Requests.empty()) {
    SetEvent(m_hPacketReady);
    return TRUE;
  }
  const BYTE* pData = nullptr;
  DWORD dwLen = 0;
  DWORD dwSequence = 0;
  if (NextGroupPacket(&pData, &dwLen, &dwSequence)) {
    std::unique_ptr<CRecvReq> pReq = std::move(m_Requests.front());
    m_Requests.pop_front();
    pReq->Fill(pData, dwLen, dwSequence, m_LowWater.load(), TRUE);
    pReq->Complete();
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
  const DWORD dwKeyLowWater = dwLowWater - dwLowWater % static_cast<DWORD>(m_nK);
  CLockGuard guard(&m_Lock);
  m_Groups.remove_if([dwKeyLowWater](const std::unique_ptr<CFECGroup>& pGroup) {
    return pGroup->GetFECKey() < dwKeyLowWater;
  });
  ResetIfIdle();
}

int CRecvQueue::Wait(DWORD dwMilliseconds) {
  return WaitForSingleObject(m_hPacketReady, dwMilliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}
