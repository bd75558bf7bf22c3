#include "Pelago/SendThread.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoSend.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

CSendThread::CSendThread()
    : m_dwSentCount(0),
      m_fLimited(false),
      m_dwPayloadSize(0),
      m_dwSeqNo(0),
      m_dwPayloadLen(0),
      m_dwMaxRounds(0),
      m_pSender(nullptr),
      m_pSession(nullptr) {}

CSendThread::~CSendThread() {
  Stop(5000);
  m_Port.Close();
  m_SendFile.Cleanup();
}

unsigned long CSendThread::Init(CPelagoSend* pSender, unsigned long dwMaxRounds,
                                unsigned long dwFileId) {
  if (!ORV_ASSERT(pSender != NULL)) return ERROR_INVALID_PARAMETER;
  m_pSender = pSender;
  m_pSession = pSender->GetSession();
  m_dwMaxRounds = static_cast<DWORD>(dwMaxRounds);
  unsigned long dwErr = SndInit();
  if (dwErr != 0) return dwErr;
  dwErr = m_SendFile.Init(m_pSession, pSender->GetFile(), dwFileId, pSender->GetPath());
  if (dwErr != 0) return dwErr;
  m_dwPayloadLen = m_pSession->GetPayloadLen();
  try {
    m_Payload.assign(m_dwPayloadLen, 0);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

unsigned long CSendThread::SndInit() {
  if (!m_Port.SetSndSimLoss(m_pSender->GetSimLoss())) return ERROR_GEN_FAILURE;
  if (m_Port.OpenSnd(m_pSession->GetMaddr(), m_pSession->GetPort(), m_pSession->GetTTL()) != 0) {
    DebugTrace("SndInit: failed bind/connect %d\n", m_Port.GetLastWSAError());
    return static_cast<unsigned long>(m_Port.GetLastWSAError());
  }
  // The port itself would sleep a whole wait in its send, deaf to a stop.
  (void)m_Port.SetDataRate(0);
  m_fLimited = m_pSession->GetDataRate() != 0 &&
               m_Limiter.Init(m_pSession->GetDataRate(), CMulticast::kMaxCreditBytes) == 0;
  m_dwPayloadSize = m_pSession->GetPayloadLen();
  m_dwSeqNo = 0;
  return 0;
}

unsigned long CSendThread::Send(tPacketHeader* pHeader, BYTE* pBuf, DWORD dwLen) {
  if (dwLen != m_dwPayloadSize) return ERROR_INVALID_PARAMETER;
  pHeader->SetSeqNo(m_dwSeqNo++);
  pHeader->SetSourceId(m_pSession->GetSourceId());
  WSABUF bufs[2];
  bufs[0].buf = reinterpret_cast<char*>(pHeader->m_Bytes);
  bufs[0].len = tPacketHeader::kSize;
  bufs[1].buf = reinterpret_cast<char*>(pBuf);
  bufs[1].len = dwLen;
  DWORD dwSent = 0;
  if (m_Port.SendBuffers(bufs, 2, &dwSent, nullptr, nullptr) != 0) {
    --m_dwSeqNo;
    return static_cast<unsigned long>(m_Port.GetLastWSAError());
  }
  return 0;
}

BOOL CSendThread::Pace() {
  if (!m_fLimited) return TRUE;
  const DWORD dwWaitMs = m_Limiter.GetWaitMs();
  if (dwWaitMs != 0) {
    // Most of the wait on the stop request, the rest in short steps, so that
    // the send goes out close to the tick at which the credit allows it.
    if (dwWaitMs > 1 &&
        WaitForSingleObject(GetReqReply()->GetReqHandle(), dwWaitMs - 1) == WAIT_OBJECT_0)
      return FALSE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(dwWaitMs + 2);
    while (m_Limiter.GetWaitMs() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  // Charged as the port charges a datagram: its bytes and the IP and UDP headers.
  m_Limiter.Use(
      std::min<DWORD>(tPacketHeader::kSize + m_dwPayloadSize + CMulticast::kDatagramOverheadBytes,
                      CRateLimiter::kMaxCreditBytes - 1));
  return TRUE;
}

DWORD CSendThread::ThreadProc() {
  SetPriority(THREAD_PRIORITY_HIGHEST);
  DWORD dwResult = 0;
  unsigned long dwRounds = 0;
  tPacketHeader header;
  header.Clear();
  for (;;) {
    if (m_pSession->EndOfSession() != 0) break;
    if (m_dwMaxRounds != 0 && dwRounds >= m_dwMaxRounds) break;
    BOOL fRead = FALSE, fWrite = FALSE;
    m_Port.Select(0, 500000, &fRead, &fWrite, FALSE, TRUE);
    if (fWrite) {
      if (!Pace()) break;
      dwResult = m_SendFile.NextPacket(m_Payload.data(), m_dwPayloadLen, &header, &dwRounds);
      if (dwResult != 0) break;
      dwResult = Send(&header, m_Payload.data(), m_dwPayloadLen);
      if (dwResult != 0) break;
      ++m_dwSentCount;
      m_pSender->SetSendStats(dwRounds, m_dwSentCount, header.GetBlockIndex());
    }
    if (StopRequested()) break;
  }
  m_Port.Close();
  m_SendFile.Cleanup();
  m_pSender->NotifyComplete(static_cast<int>(dwResult));
  return dwResult;
}
