#include "orvalo/Presenter.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/COA.h"
#include "orvalo/OAHelpers.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/PresenterChannel.h"
#include "orvalo/ProgressDialog.h"
#include "orvalo/Request.h"
#include "platform/Thread.h"

namespace {

constexpr DWORD kInitialScreenState = 3;
constexpr DWORD kFlushWaitMs = 500;
constexpr DWORD kEndMessageWaitMs = 2000;

// A name made only of digits and dots is taken as an address.
bool IsDottedAddress(const char* sz) {
  if (*sz == '\0') return false;
  for (; *sz != '\0'; ++sz) {
    if ((*sz < '0' || *sz > '9') && *sz != '.') return false;
  }
  return true;
}

}  // namespace

CPresenter::CPresenter(PelagoSndFactory pelagoFactory) : m_pelagoFactory(std::move(pelagoFactory)) {
  ResetState();
}

CPresenter::~CPresenter() {
  Disconnect();
  g_PPTMsgComm.ForgetStopper(this);
}

void CPresenter::ResetState() {
  m_State = tSlideInfo{
      .dwScreenState = kInitialScreenState, .dwSlide = 0, .dwTime = 0, .wStep = 0, .fDone = 0};
  m_dwNextSlide = 0;
}

CPresenterChannel* CPresenter::GetChannel(int i) const {
  return i >= 0 && i < m_nChannels ? m_pChannels[i] : nullptr;
}

BOOL CPresenter::AddStream(const char* szMasterAddr, int nMasterPort, const char* szLiveAddr,
                           int nPort, int nTTL, int nBytesPerSec, int nK) {
  if (m_nChannels >= kMaxPresenterChannels) return FALSE;
  std::unique_ptr<CProgressDialog> pDialog(new (std::nothrow) CProgressDialog);
  if (pDialog) pDialog->Create(nullptr);
  std::unique_ptr<CPresenterChannel> pChannel(
      new (std::nothrow) CPresenterChannel(std::move(pDialog), m_pelagoFactory));
  if (!pChannel) return FALSE;
  if (!pChannel->Connect(szMasterAddr, nMasterPort, szLiveAddr, nPort, nTTL, nBytesPerSec, nK)) {
    return FALSE;
  }
  m_pChannels[m_nChannels++] = pChannel.release();
  return TRUE;
}

DWORD CPresenter::NextStateTime() {
  DWORD dwTime = orvalo::TickElapsedMs();
  // Two states made in one millisecond would look alike to the audience,
  // which would then drop the second; so would a state after the start was
  // taken again.
  if (dwTime <= m_dwLastTime) dwTime = m_dwLastTime + 1;
  m_dwLastTime = dwTime;
  return dwTime;
}

BOOL CPresenter::SendState() {
  m_State.dwTime = NextStateTime();
  BOOL fResult = TRUE;
  for (int i = 0; i < m_nChannels; ++i) {
    if (!m_pChannels[i]->AddCtrl(&m_State)) fResult = FALSE;
  }
  return fResult;
}

BOOL CPresenter::Dispatch(CRequest* pReq, BOOL fNext) {
  BOOL fResult = TRUE;
  for (int i = 0; i < m_nChannels; ++i) {
    if (!m_pChannels[i]->AddRequest(pReq, fNext)) fResult = FALSE;
  }
  return fResult;
}

BOOL CPresenter::SendSlide(DWORD n, BOOL fNext) {
  CFileRequest request;
  if (!request.SetSlide(n)) return TRUE;  // no cabinet for that slide: nothing to send
  return Dispatch(&request, fNext);
}

BOOL CPresenter::Goto(DWORD n) {
  DebugTrace("Goto slide %lu\n", static_cast<unsigned long>(n));
  if (n == m_State.dwSlide) return TRUE;
  m_State.wStep = 0;
  m_State.dwSlide = n;
  BOOL fResult = SendState();
  if (m_dwNextSlide != 0 && n == m_dwNextSlide) {
    for (int i = 0; i < m_nChannels; ++i) m_pChannels[i]->SetSlide(n);
  } else {
    fResult = SendSlide(n, FALSE);
  }
  m_dwNextSlide = n + 1;
  const BOOL fNextQueued = SendSlide(n + 1, TRUE);
  return fNextQueued && fResult;
}

BOOL CPresenter::Step(int nWhichway, DWORD nWhich) {
  DebugTrace("Step whichway: %d Slide: %lu\n", nWhichway, static_cast<unsigned long>(nWhich));
  if (nWhich != m_State.dwSlide) {
    g_COA.GotoSlide(static_cast<int>(nWhich));
    const BOOL fResult = Goto(nWhich);
    m_State.wStep = 0;
    return fResult;
  }
  if (nWhichway > 0) {
    ++m_State.wStep;
  } else if (m_State.wStep > 0) {
    --m_State.wStep;
  } else if (m_State.dwSlide > 1) {
    const DWORD dwPrevious = m_State.dwSlide - 1;
    g_COA.GotoSlide(static_cast<int>(dwPrevious));
    return Goto(dwPrevious);
  } else {
    g_COA.GotoSlide(static_cast<int>(nWhich));
  }
  return SendState();
}

BOOL CPresenter::SetScreen(DWORD n) {
  m_State.dwScreenState = n % 16;
  return SendState();
}

BOOL CPresenter::End() {
  m_State.fDone = 1;
  DebugTrace("###Waiting 1/2 sec to flush\n");
  Sleep(kFlushWaitMs);
  const BOOL fResult = SendState();
  DebugTrace("###Waiting 2 sec to send end message\n");
  Sleep(kEndMessageWaitMs);
  DebugTrace("###Finished waiting\n");
  return fResult;
}

BOOL CPresenter::SendPoints(CPtsRequest* pReq) {
  if (pReq == nullptr) return FALSE;
  pReq->SetSlide(m_State.dwSlide);
  return Dispatch(pReq, FALSE);
}

int CPresenter::FindChannel(const char* szMachineName) {
  if (szMachineName == nullptr) return -1;
  char szName[CPresenterChannel::kMaxMachineName + 1] = {};
  std::size_t nLen = std::strlen(szMachineName);
  if (!IsDottedAddress(szMachineName)) {
    if (const char* pDot = std::strchr(szMachineName, '.')) {
      nLen = static_cast<std::size_t>(pDot - szMachineName);
    }
  }
  // Stored names keep at most 15 characters: a longer one matches none.
  if (nLen > CPresenterChannel::kMaxMachineName) return -1;
  std::memcpy(szName, szMachineName, nLen);
  for (int i = 0; i < m_nChannels; ++i) {
    if (strcasecmp(szName, m_pChannels[i]->GetMachineName()) == 0) return i;
  }
  return -1;
}

void CPresenter::MoveProgressDialog(int x, int y) {
  if (m_nChannels == 0) return;
  if (CProgressDialog* pDialog = m_pChannels[0]->GetProgressDialog()) pDialog->MoveTo(x, y);
}

void CPresenter::Disconnect() {
  DebugTrace("CPresenter::Disconnect\n");
  g_PPTMsgComm.Clear();
  for (int i = 0; i < m_nChannels; ++i) {
    delete m_pChannels[i];  // Cleanup stops its send thread
    m_pChannels[i] = nullptr;
  }
  m_nChannels = 0;
  g_COA.Cleanup();
  ResetState();
}
