// The audience engine's master receive: the slide master's cabinet arrives
// through the file carousel under the "Receiving Slide Master" dialog.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoCom.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/DialogResources.h"
#include "orvalo/MasterRecvDialog.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"

namespace {

constexpr int kDone = 1;
constexpr int kGoOn = 0;
constexpr int kFailed = -1;
constexpr DWORD kErrorCrc = 23;  // ERROR_CRC

// Errors the carousel mends by itself: a file whose check fails is dropped
// and arrives whole in a later round. Anything else (no disk space, no
// memory, a dead receive) stays.
bool IsRecoverablePelagoError(DWORD dwError) {
  return dwError == ERROR_FILE_CORRUPT || dwError == kErrorCrc;
}

}  // namespace

BOOL CAudienceMember::StartPelagoRcv(const char* szMasterAddr, WORD nPort) {
  m_fHaveMaster = FALSE;
  HRESULT hr = m_pelagoFactory
                   ? m_pelagoFactory(&m_IPelagoRcvPtr)
                   : m_IPelagoRcvPtr.CoCreateInstance(CLSID_PelagoRcv, nullptr, CLSCTX_ALL);
  if (FAILED(hr) || !m_IPelagoRcvPtr) {
    DebugTrace("Can't CoCreate PelagoRcv\n");
    m_IPelagoRcvPtr.Release();
    return FALSE;
  }
  const std::string sTempDir = platform::GetTempPath();
  if (sTempDir.empty() || sTempDir.size() > MAX_PATH ||
      FAILED(m_IPelagoRcvPtr->Init(com::CComBSTR(szMasterAddr != nullptr ? szMasterAddr : ""),
                                   nPort, com::CComBSTR(sTempDir))) ||
      FAILED(m_IPelagoRcvPtr->Start())) {
    m_IPelagoRcvPtr.Release();
    return FALSE;
  }
  return TRUE;
}

int CAudienceMember::DoPelagoRcv(const char* szMasterAddr, WORD nPort, int /*nUnused*/,
                                 long* pfAbort) {
  if (!ORV_ASSERT(pfAbort != NULL)) return -1;
  CMasterRecvDialog dialog;
  dialog.Create(nullptr);
  *pfAbort = 0;
  DWORD dwFileLen = 0;
  if (!StartPelagoRcv(szMasterAddr, nPort)) return -1;  // the dialog goes with its object
  dialog.SetTimer(kMasterTimerId, kMasterTimerMs);
  dialog.SetPos(0);

  for (;;) {
    MSG msg;
    const BOOL fGot = GetMessage(&msg, nullptr, 0, 0);
    if (fGot == -1) return -1;
    TranslateMessage(&msg);
    if (fGot == 0) {  // WM_QUIT: the host is closing
      *pfAbort = 1;
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the host's own loop
      return -1;
    }
    // A message dispatched below may have run Disconnect, which lets the
    // carousel object go.
    if (!m_IPelagoRcvPtr) return -1;
    if (msg.message == WM_TIMER) {
      const int nState = OnMasterTimer(&dialog, &dwFileLen);
      if (nState == kFailed) return -1;
      DispatchMessage(&msg);
      if (nState == kDone) break;
    } else if (msg.message == WM_MASTER_CANCEL && msg.hwnd == dialog.GetHwnd() &&
               msg.hwnd != nullptr) {
      DebugTrace("ABORTING\n");
      *pfAbort = 1;
      m_IPelagoRcvPtr->Stop();
      dialog.Destroy();
      return 0;
    } else {
      DispatchMessage(&msg);
    }
  }

  if (!m_IPelagoRcvPtr || !UpdateMasterProgress(&dialog, dwFileLen)) return -1;
  m_IPelagoRcvPtr->Stop();
  m_fHaveMaster = TRUE;
  DebugTrace("PELAGO ALL DONE\n");
  dialog.Destroy();
  return 0;
}

int CAudienceMember::OnMasterTimer(CMasterRecvDialog* pDialog, DWORD* pdwFileLen) {
  LONG nType = 0, nError = 0, nFileId = 0, nFileLen = 0, fGot = 0;
  com::CComBSTR bstrFileName;
  if (FAILED(m_IPelagoRcvPtr->GetEvent(0, &nType, &nError, &nFileId, &nFileLen, bstrFileName.Out(),
                                       &fGot))) {
    return kFailed;
  }
  int nState = kGoOn;
  if (fGot != 0) {
    switch (nType) {
      case PELAGORE_FILE_START:
        *pdwFileLen = static_cast<DWORD>(nFileLen);
        DebugTrace("Audience Member: Pelago started file %lu size %lu\n",
                   static_cast<unsigned long>(static_cast<DWORD>(nFileId)),
                   static_cast<unsigned long>(*pdwFileLen));
        break;
      case PELAGORE_FILE_COMPLETE:
        DebugTrace("Audience member: Pelago got file %s\n", bstrFileName.ToUtf8().c_str());
        nState = kDone;
        break;
      case PELAGORE_COMPLETE:
        nState = kDone;
        break;
      case PELAGORE_SESSION:
      case PELAGORE_TERMINATION:
      case PELAGORE_CONTINUE:
        break;
      case PELAGORE_ERROR:
      case PELAGORE_FATAL_ERROR: {
        const DWORD dwError = static_cast<DWORD>(nError);
        if (nType == PELAGORE_ERROR && IsRecoverablePelagoError(dwError)) {
          DebugTrace("Audience member: Pelago error %lu - the file comes again\n",
                     static_cast<unsigned long>(dwError));
          break;
        }
        char szText[64];
        snprintf(szText, sizeof szText, "Pelago error: %lu\n", static_cast<unsigned long>(dwError));
        MessageBox(nullptr, szText, "orvalo", MB_OK);
        return kFailed;
      }
      default:
        return kFailed;
    }
  }
  if (!UpdateMasterProgress(pDialog, *pdwFileLen)) return kFailed;
  return nState;
}

BOOL CAudienceMember::UpdateMasterProgress(CMasterRecvDialog* pDialog, DWORD dwFileLen) {
  LONG anStats[11] = {};
  if (FAILED(m_IPelagoRcvPtr->GetStats(&anStats[0], &anStats[1], &anStats[2], &anStats[3],
                                       &anStats[4], &anStats[5], &anStats[6], &anStats[7],
                                       &anStats[8], &anStats[9], &anStats[10]))) {
    return FALSE;
  }
  if (dwFileLen != 0) {
    // 64 bits: RecvdCount x 100 x PayloadLen passes 2^32 near 40 MiB received.
    const std::uint64_t qwRecvd = static_cast<DWORD>(anStats[0]);
    const std::uint64_t qwPayload = static_cast<DWORD>(anStats[10]);
    const std::uint64_t qwPercent = qwRecvd * 100 * qwPayload / dwFileLen;
    pDialog->SetPos(static_cast<DWORD>(std::min<std::uint64_t>(qwPercent, 100)));
  }
  return TRUE;
}
