#include "Pelago/SendThread.h"

#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoSend.h"
#include "platform/DebugOutput.h"
#include "platform/Thread.h"

CSendThread::CSendThread()
    : m_dwSentCount(0),
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
  dwErr = m_SendFile.Init(m_pSession, pSender->GetFile(), dwFileId);
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
  (void)m_Port.SetDataRate(m_pSession->GetDataRate());
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
