#include "Pelago/PelagoSend.h"

#include <new>
#include <string>

#include "Pelago/SendThread.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Random.h"
#include "platform/Tick.h"

CPelagoSend::CPelagoSend()
    : m_Stats{},
      m_pLock(new CLock),
      m_pThread(nullptr),
      m_pFile(nullptr),
      m_fSimLossPerc(0.0f),
      m_hCompletion(nullptr),
      m_dwFileId(0) {}

CPelagoSend::~CPelagoSend() {
  Cleanup();
  delete m_pLock;
}

unsigned long CPelagoSend::Init(CPelagoSession* pSession) {
  if (pSession == nullptr || pSession->GetK() == 0 || pSession->GetPayloadLen() == 0 ||
      pSession->GetN() == 0)
    return ERROR_INVALID_PARAMETER;
  Cleanup();
  m_Session = *pSession;
  m_pFile = new (std::nothrow) CPelagoFile;
  if (m_pFile == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  platform::SeedRandom(GetTickCount());
  m_dwFileId = static_cast<DWORD>(platform::Random());
  return 0;
}

unsigned long CPelagoSend::Start(char* szFileName, unsigned long dwMaxRounds) {
  ++m_dwFileId;
  if (szFileName == nullptr) return ERROR_INVALID_PARAMETER;
  // A transfer that still runs is ended first; without Init there is no record.
  if (m_pThread != nullptr) {
    m_pThread->Stop(5000);
    delete m_pThread;
    m_pThread = nullptr;
    m_hCompletion = nullptr;
  }
  if (m_pFile == nullptr) return ERROR_INVALID_PARAMETER;
  // The record keeps 259 characters; the file is read by its whole name, and
  // a longer name travels as its bare name, which the sender sends anyway.
  m_Path = szFileName;
  unsigned long dwErr = m_pFile->Set(szFileName);
  if (dwErr != 0) return dwErr;
  if (m_Path.size() >= CPelagoFile::kNameLen) {
    const std::size_t cut = m_Path.find_last_of("/\\");
    const std::string bare = cut == std::string::npos ? m_Path : m_Path.substr(cut + 1);
    if (bare.size() >= CPelagoFile::kNameLen) return ERROR_FILENAME_EXCED_RANGE;
    m_pFile->SetName(bare.c_str());
  }
  if (m_pFile->GetSize() == 0) return ERROR_INVALID_PARAMETER;
  m_pThread = new (std::nothrow) CSendThread;
  if (m_pThread == nullptr) {
    Cleanup();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  dwErr = m_pThread->Init(this, dwMaxRounds, m_dwFileId);
  if (dwErr != 0) {
    Cleanup();
    return dwErr;
  }
  m_hCompletion = m_pThread->GetReqReply()->GetReplyHandle();
  {
    CLockGuard guard(m_pLock);
    m_Stats = tPelagoSendStats{};
  }
  return m_pThread->Start();
}

void CPelagoSend::StopPelagoSend() {
  if (m_pThread == nullptr) return;
  m_pThread->Stop(5000);
  Cleanup();
}

void CPelagoSend::Cleanup() {
  delete m_pThread;  // stops it first
  m_pThread = nullptr;
  m_hCompletion = nullptr;
  delete m_pFile;
  m_pFile = nullptr;
}

void CPelagoSend::GetSendStats(tPelagoSendStats* pStats) {
  if (!ORV_ASSERT(pStats != NULL)) return;
  CLockGuard guard(m_pLock);
  *pStats = m_Stats;
}

void CPelagoSend::SetSendStats(unsigned long dwRounds, unsigned long dwSent,
                               unsigned long dwIndex) {
  CLockGuard guard(m_pLock);
  m_Stats.SentRounds = static_cast<DWORD>(dwRounds);
  m_Stats.SentCount = static_cast<DWORD>(dwSent);
  m_Stats.CurrentIndex = static_cast<DWORD>(dwIndex);
}

void CPelagoSend::NotifyComplete(int nCode) {
  CLockGuard guard(m_pLock);
  m_Stats.Complete = 1;
  m_Stats.ErrorCode = static_cast<DWORD>(nCode);
}

unsigned long CPelagoSend::WaitForCompletion(unsigned long dwTimeoutMs) {
  if (m_hCompletion == nullptr) return WAIT_FAILED;
  return WaitForSingleObject(m_hCompletion, static_cast<DWORD>(dwTimeoutMs));
}

unsigned long CPelagoSend::GetTotalBlocks() {
  return m_pThread == nullptr ? 0 : m_pThread->GetTotalBlocks();
}
