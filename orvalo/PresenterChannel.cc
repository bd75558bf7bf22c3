#include "orvalo/PresenterChannel.h"

#include <cstring>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "korin/EpochSender.h"
#include "orvalo/McastAddress.h"
#include "orvalo/ProgressDialog.h"
#include "orvalo/TempFiles.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

CPresenterChannel::CPresenterChannel(std::unique_ptr<CProgressDialog> pDialog,
                                     PelagoSndFactory pelagoFactory)
    : CSlideQueue(std::unique_ptr<ISlideProgress>(pDialog.get())),
      m_pDialog(pDialog.release()),
      m_pelagoFactory(std::move(pelagoFactory)) {}

CPresenterChannel::~CPresenterChannel() { Cleanup(); }

BOOL CPresenterChannel::Connect(const char* szMasterAddr, int nMasterPort, const char* szLiveAddr,
                                int nPort, int nTTL, int nBytesPerSec, int nK) {
  if (!orvalo::IsMulticastAddress(szLiveAddr)) {
    Cleanup();
    return FALSE;
  }
  std::unique_ptr<CEpochSender> pSender(new (std::nothrow) CEpochSender);
  if (!pSender) return FALSE;
  if (!pSender->Open(nK, szLiveAddr, static_cast<WORD>(nPort), nTTL, kResendHoldOffMs)) {
    return FALSE;
  }
  m_pEpochSender = std::move(pSender);

  HRESULT hr = m_pelagoFactory
                   ? m_pelagoFactory(&m_IPelagoSndPtr)
                   : m_IPelagoSndPtr.CoCreateInstance(CLSID_PelagoSnd, nullptr, CLSCTX_ALL);
  if (FAILED(hr) || !m_IPelagoSndPtr) {
    DebugTrace("Can't CoCreate PelagoSnd\n");
    m_IPelagoSndPtr.Release();
    return FALSE;
  }
  com::CComBSTR bstrMasterAddr(szMasterAddr != nullptr ? szMasterAddr : "");
  if (FAILED(m_IPelagoSndPtr->Init(bstrMasterAddr, nMasterPort, nTTL, nBytesPerSec))) {
    DebugTrace("***pelago init failed\n");
    Cleanup();
    return FALSE;
  }
  char szCab[MAX_PATH + 1];
  if (!MasterCabName(szCab) || FAILED(m_IPelagoSndPtr->Start(com::CComBSTR(szCab)))) {
    DebugTrace("***StartPelagoSend failed\n");
    Cleanup();
    return FALSE;
  }
  m_pEpochSender->SetDataRate(static_cast<DWORD>(nBytesPerSec));
  m_hSendThread = CreateThread(SendThread, this, nullptr);
  if (m_hSendThread == nullptr) {
    Cleanup();
    return FALSE;
  }
  return TRUE;
}

void CPresenterChannel::Cleanup() {
  m_IPelagoSndPtr.Release();  // the carousel stops with its last reference
  if (m_hSendThread != nullptr) {
    if (!Replied()) {
      Request();
      WaitForReplyInfinite();
    }
    // The reply is the thread's last use of the channel; its end follows.
    WaitForSingleObject(m_hSendThread, INFINITE);
    CloseHandle(m_hSendThread);
    m_hSendThread = nullptr;
    Reset();
    Clear();
  }
  m_pEpochSender.reset();
}

BOOL CPresenterChannel::SetMachineName(const char* pMachineName) {
  if (!ORV_ASSERT(pMachineName != NULL)) return TRUE;
  ORV_ASSERT(pMachineName[0] != '\0');
  ORV_ASSERT(std::strlen(pMachineName) <= kMaxMachineName);
  if (pMachineName[0] == '\\' && pMachineName[1] == '\\') pMachineName += 2;
  std::strncpy(m_szMachineName, pMachineName, kMaxMachineName);
  m_szMachineName[kMaxMachineName] = '\0';
  return TRUE;
}

DWORD CPresenterChannel::SendThread(LPVOID pParam) {
  return static_cast<CPresenterChannel*>(pParam)->RunSendThread();
}

DWORD CPresenterChannel::RunSendThread() {
  DWORD dwExit = 0;
  const DWORD dwSize = m_pEpochSender->GetMaxPayload();
  std::unique_ptr<BYTE[]> pBuffer(
      dwSize >= tPtsPacketHeader::kSize ? new (std::nothrow) BYTE[dwSize] : nullptr);
  if (!pBuffer) {
    DebugTrace("***Couldn't alloc packet - send thread will die\n");
    dwExit = 1;
  }
  while (pBuffer) {
    DWORD dwLen = 0, dwEpoch = 0, dwValid = 0;
    BOOL fReliable = FALSE;
    const DWORD dwRepairs = m_pEpochSender->GetRepairsQueued();
    if (GetNextPacket(pBuffer.get(), dwSize, &dwLen, &dwEpoch, &dwValid, &fReliable, dwRepairs) ==
        1) {
      DebugTrace("***Send thread requested to die\n");
      break;
    }
    m_pEpochSender->SetEpoch(dwEpoch, dwValid);  // a refusal changes nothing else
    if (dwLen == 0) continue;
    DWORD dwSequence = 0;
    const int nSent = fReliable ? m_pEpochSender->Send(pBuffer.get(), dwLen, &dwSequence, TRUE)
                                : m_pEpochSender->SendUnreliable(pBuffer.get(), dwLen);
    if (nSent == -1) {
      DebugTrace("***Send failed - send thread will die\n");
      dwExit = 1;
      break;
    }
  }
  pBuffer.reset();
  // Every way out replies, so that Cleanup never waits for a thread that ended.
  Reply();
  return dwExit;
}
