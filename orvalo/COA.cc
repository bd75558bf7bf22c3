// COA: set-up, the presenter's slide files and the audience's presentation.
// The slide-show side is in COAShow.cc.
#include "orvalo/COA.h"

#include <new>
#include <string>
#include <utility>

#include "ErrStuff/DebugTrace.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "mcast/Lock.h"
#include "orvalo/COATracker.h"
#include "orvalo/Cabinet.h"
#include "orvalo/OAHelpers.h"
#include "orvalo/SlideInserter.h"
#include "orvalo/TempFiles.h"
#include "orvalo/WaitDialog.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "ui/UiObserver.h"
#include "ui/Window.h"

using com::CComBSTR;
using com::CComPtr;
using orvalo::CheckGot;
using orvalo::CheckHR;

COA g_COA;

namespace {

// COA's own lock; only OpenMaster takes it.
CLock g_COALock;

// From the library's start, the defragmenter inserts received slides through
// COA. Slide numbers beyond an int are no owner slides (AddSlideFromFile
// refuses them).
[[maybe_unused]] const bool g_fInserterInstalled = [] {
  orvalo::SetSlideInserter([](const char* szFile, DWORD dwSlide) {
    const int nSlide = dwSlide > static_cast<DWORD>(MAX_SLIDES) ? -1 : static_cast<int>(dwSlide);
    return g_COA.AddSlideFromFile(szFile, nSlide);
  });
  return true;
}();

// Deletes one temporary file; one that is not there was never written.
void DeleteTempFile(const char* szPath) {
  DebugTrace("Deleting %s\n", szPath);
  const DWORD dwError = platform::DeleteFile(szPath);
  ORV_ASSERT(dwError == ERROR_SUCCESS || dwError == ERROR_FILE_NOT_FOUND);
}

// Closes a temporary presentation on every way out of SaveSlides.
class CClosePresentation {
 public:
  explicit CClosePresentation(CComPtr<_Presentation>* pp) : m_pp(pp) {}
  ~CClosePresentation() {
    if (*m_pp) (*m_pp)->Close();
  }
  CClosePresentation(const CClosePresentation&) = delete;
  CClosePresentation& operator=(const CClosePresentation&) = delete;

 private:
  CComPtr<_Presentation>* m_pp;
};

}  // namespace

COA::COA() { ResetSlideMap(0); }

COA::~COA() { Cleanup(); }

void COA::SetApp(_Application* pApp) {
  if (!ORV_ASSERT(pApp != NULL)) return;
  if (m_pApp != nullptr) return;
  pApp->AddRef();
  m_pApp = pApp;
}

DWORD COA::Init() {
  const DWORD dwResult = SaveSlides(0);
  ResetSlideMap(1);
  return dwResult;
}

BOOL COA::ShowWaitDialog(const char*, const char*, const char*, const char*) {
  ResetSlideMap(0);
  m_fShowStarted = 0;
  m_fMasterOpened = 0;
  DestroyWaitDialog();
  m_pWaitDialog = new (std::nothrow) CWaitDialog;
  if (m_pWaitDialog == nullptr) return FALSE;
  m_pWaitDialog->Create(GetPPHWND());
  return TRUE;
}

void COA::ResetSlideMap(int nHave) {
  for (int i = 0; i <= MAX_SLIDES; ++i) {
    m_Have[i] = nHave;
    m_LocalIndex[i] = i;
  }
  m_nCurSlide = 0;
  m_nCurStep = 0;
  m_nTargetSlide = 1;
  m_nTargetStep = 0;
}

HWND COA::GetPPHWND() {
  if (m_hWndPP != nullptr && IsWindow(m_hWndPP)) return m_hWndPP;
  m_hWndPP = nullptr;
  if (!ORV_ASSERT(m_pApp != NULL)) return nullptr;
  std::string title;
  try {
    CComBSTR caption;
    CheckHR(m_pApp->get_Caption(caption.Out()));
    title = caption.ToUtf8();
  } catch (...) {
    DebugTrace("COA::GetPPHWND blew up!\n");
    MessageBeep(0);
    return nullptr;
  }
  CComPtr<_Presentation> pPres;
  CComBSTR name;
  if (SUCCEEDED(m_pApp->get_ActivePresentation(pPres.Out())) && pPres &&
      SUCCEEDED(pPres->get_Name(name.Out()))) {
    title += " - [" + name.ToUtf8() + "]";
  }
  HWND hWnd = FindWindowA("PP97FrameClass", title.c_str());
  if (hWnd == nullptr) hWnd = FindWindowA("PP9FrameClass", title.c_str());
  m_hWndPP = hWnd;
  return hWnd;
}

DWORD COA::SaveSlides(int nKeepMaster) {
  // A second save replaces what the first one wrote.
  if (m_fTempFiles || m_nSlideCounter > 0) DeleteTempFiles();
  m_nSlideCounter = 0;
  const DWORD dwTempPathLength = static_cast<DWORD>(platform::GetTempPath().size());
  if (!ORV_ASSERT(dwTempPathLength > 0)) return COA_E_PPTCALL;
  if (!ORV_ASSERT(m_pApp != NULL)) return COA_E_PPTCALL;
  char szMaster[MAX_PATH + 1];
  if (!MasterFileName(szMaster)) return COA_E_PPTCALL;

  LONG lNumSlides = 0;
  CComPtr<_Presentation> pTempPres;
  CComPtr<Slides> pTempSlides;
  {
    CClosePresentation closer(&pTempPres);
    try {
      CComPtr<_Presentation> pPres;
      CComPtr<Presentations> pPresCollection;
      CComPtr<Slides> pSlides;
      CheckGot(m_pApp->get_ActivePresentation(pPres.Out()), pPres);
      CheckGot(m_pApp->get_Presentations(pPresCollection.Out()), pPresCollection);
      CheckGot(pPres->get_Slides(pSlides.Out()), pSlides);
      CheckHR(pSlides->get_Count(&lNumSlides));

      // The master: the design and masters, without slides.
      m_fTempFiles = 1;
      CheckHR(pPres->SaveCopyAs(CComBSTR(szMaster), ppSaveAsPresentation, msoFalse));
      CheckGot(
          pPresCollection->Open(CComBSTR(szMaster), msoFalse, msoFalse, msoFalse, pTempPres.Out()),
          pTempPres);
      CheckGot(pTempPres->get_Slides(pTempSlides.Out()), pTempSlides);
      for (LONG i = 0; i < lNumSlides; ++i) {
        CComPtr<_Slide> pSlide;
        CheckGot(pTempSlides->Item(com::CComVariant(LONG{1}), pSlide.Out()), pSlide);
        CheckHR(pSlide->Delete());
      }
      LONG lSldCnt = -1;
      CheckHR(pTempSlides->get_Count(&lSldCnt));
      if (!ORV_ASSERT(lSldCnt == 0)) return COA_E_PPTCALL;
      CheckHR(pTempPres->Save());

      if (nKeepMaster == 0) {
        CheckHR(std::exchange(pTempPres, nullptr)->Close());
        pTempSlides.Release();
        CheckHR(pPresCollection->Add(msoFalse, pTempPres.Out()));
        if (!ORV_ASSERT(pTempPres.get() != NULL)) return COA_E_PPTCALL;
        CheckHR(pTempPres->get_Slides(pTempSlides.Out()));
        if (!ORV_ASSERT(pTempSlides.get() != NULL)) return COA_E_PPTCALL;
      }

      // Each slide alone, through the emptied copy.
      for (LONG n = 1; n <= lNumSlides; ++n) {
        char szSlide[MAX_PATH + 1];
        if (!SlideFileName(static_cast<DWORD>(n), szSlide)) return COA_E_PPTCALL;
        CComPtr<_Slide> pSlide;
        CheckGot(pSlides->Item(com::CComVariant(n), pSlide.Out()), pSlide);
        CheckHR(pSlide->Copy());
        CheckHR(pTempSlides->Paste(-1));
        DebugTrace("Saving slide %d to file %s\n", static_cast<int>(n), szSlide);
        m_nSlideCounter = static_cast<int>(n);  // before the write, so a torn file goes too
        CheckHR(pTempPres->SaveAs(CComBSTR(szSlide), ppSaveAsPresentation, msoFalse));
        CComPtr<_Slide> pPasted;
        CheckGot(pTempSlides->Item(com::CComVariant(LONG{1}), pPasted.Out()), pPasted);
        CheckHR(pPasted->Delete());
      }
      CheckHR(std::exchange(pTempPres, nullptr)->Close());
    } catch (const com::CComError& e) {
      DebugTrace("COA::SaveSlides - %s\n", e.what());
      return COA_E_PPTCALL;
    } catch (...) {
      DebugTrace("COA::SaveSlides - out of memory\n");
      return COA_E_PPTCALL;
    }
  }

  // The cabinets, master first.
  if (!orvalo::Compress(szMaster)) {
    DebugTrace("***fciCompress failed\n");
    return COA_E_PPTCALL;
  }
  for (int n = 1; n <= m_nSlideCounter; ++n) {
    char szSlide[MAX_PATH + 1];
    if (!SlideFileName(static_cast<DWORD>(n), szSlide) || !orvalo::Compress(szSlide)) {
      DebugTrace("***fciCompress failed\n");
      return COA_E_PPTCALL;
    }
  }
  return COA_E_SUCCESS;
}

DWORD COA::OpenMaster(const char* szFileName) {
  CLockGuard guard(&g_COALock);
  if (!ORV_ASSERT(m_pApp != NULL) || !ORV_ASSERT(szFileName != NULL)) return COA_E_PPTCALL;
  try {
    CComPtr<Presentations> pPresCollection;
    CComPtr<_Presentation> pPres;
    CheckGot(m_pApp->get_Presentations(pPresCollection.Out()), pPresCollection);
    CheckGot(pPresCollection->Open(CComBSTR(szFileName), msoFalse, msoTrue, msoTrue, pPres.Out()),
             pPres);
  } catch (const std::exception& e) {
    DebugTrace("COA::OpenMaster %s - %s\n", szFileName, e.what());
    return COA_E_PPTCALL;
  }
  m_fMasterOpened = 1;
  return COA_E_SUCCESS;
}

DWORD COA::AddSlideFromFile(const char* szFileName, int nSlide) {
  if (!ORV_ASSERT(szFileName != NULL) || !ORV_ASSERT(szFileName[0] != '\0')) {
    return COA_E_NOSLIDE;
  }
  // The slide number comes from the network.
  if (!IsOwnerSlide(nSlide)) {
    DebugTrace("AddSlideFromFile %s - no slide %d, ignored\n", szFileName, nSlide);
    return COA_E_NOSLIDE;
  }
  DebugTrace("AddSlideFromFile %s %d\n", szFileName, nSlide);
  DebugTrace("\t<%d,%d>\n", m_nTargetSlide, m_nTargetStep);
  if (!ORV_ASSERT(m_pApp != NULL)) return COA_E_PPTCALL;

  if (!m_fShowStarted) {
    // Without a master the received file itself becomes the presentation.
    if (!m_fMasterOpened && OpenMaster(szFileName) != COA_E_SUCCESS) return COA_E_NOSLIDE;
    if (InsertPlaceholder(1) != COA_E_SUCCESS || StartShow() != COA_E_SUCCESS) {
      return COA_E_NOSLIDE;
    }
    GotoSlide(1);
    m_fShowStarted = 1;
    DestroyWaitDialog();
  }

  LONG lCount = 0;
  CComPtr<Slides> pSlides;
  try {
    CComPtr<_Presentation> pPres;
    CheckGot(m_pApp->get_ActivePresentation(pPres.Out()), pPres);
    CheckGot(pPres->get_Slides(pSlides.Out()), pSlides);
    CheckHR(pSlides->get_Count(&lCount));
  } catch (const std::exception& e) {
    DebugTrace("AddSlideFromFile - %s\n", e.what());
    return COA_E_PPTCALL;
  }
  try {
    CheckHR(pSlides->InsertFromFile(CComBSTR(szFileName), lCount, 1, 1, nullptr));
  } catch (const std::exception&) {
    DebugTrace("***InsertFromFile FAILED\n");
    return COA_E_NOSLIDE;
  }
  DebugTrace("Inserted slide %d\n", nSlide);
  m_LocalIndex[nSlide] = static_cast<int>(lCount) + 1;
  m_Have[nSlide] = 1;

  if (nSlide == m_nTargetSlide) {
    const DWORD nResult = GoTo(m_nTargetSlide, m_nTargetStep);
    ORV_ASSERT(nResult == COA_E_SUCCESS);
  }
  return COA_E_SUCCESS;
}

DWORD COA::InsertPlaceholder(int nSlideNum) {
  try {
    CComPtr<_Presentation> pPres;
    CComPtr<Slides> pSlides;
    CheckGot(m_pApp->get_ActivePresentation(pPres.Out()), pPres);
    CheckGot(pPres->get_Slides(pSlides.Out()), pSlides);
    LONG lNumSlides = 0;
    CheckHR(pSlides->get_Count(&lNumSlides));
    if (!ORV_ASSERT(nSlideNum <= lNumSlides + 1) || !ORV_ASSERT(nSlideNum > 0)) {
      return COA_E_PPTCALL;
    }
    CComPtr<_Slide> pSlide;
    CheckGot(pSlides->Add(nSlideNum, ppLayoutText, pSlide.Out()), pSlide);
    CComPtr<Shapes> pShapes;
    CheckGot(pSlide->get_Shapes(pShapes.Out()), pShapes);
    MsoTriState hasTitle = msoFalse;
    CheckHR(pShapes->get_HasTitle(&hasTitle));
    CComPtr<Shape> pTitle;
    if (hasTitle == msoTrue) {
      CheckGot(pShapes->get_Title(pTitle.Out()), pTitle);
    } else {
      CheckGot(pShapes->AddTitle(pTitle.Out()), pTitle);
    }
    CComPtr<TextFrame> pFrame;
    CComPtr<TextRange> pRange;
    CheckGot(pTitle->get_TextFrame(pFrame.Out()), pFrame);
    CheckGot(pFrame->get_TextRange(pRange.Out()), pRange);
    CheckHR(pRange->put_Text(CComBSTR("Will synch on next slide...")));
  } catch (const std::exception& e) {
    DebugTrace("COA - placeholder slide: %s\n", e.what());
    return COA_E_PPTCALL;
  }
  return COA_E_SUCCESS;
}

DWORD COA::StartShow() {
  try {
    CComPtr<_Presentation> pPres;
    CComPtr<SlideShowSettings> pSettings;
    CComPtr<SlideShowWindow> pWin;
    CheckGot(m_pApp->get_ActivePresentation(pPres.Out()), pPres);
    CheckGot(pPres->get_SlideShowSettings(pSettings.Out()), pSettings);
    CheckHR(pSettings->put_AdvanceMode(ppSlideShowManualAdvance));
    CheckHR(pSettings->put_ShowType(ppShowTypeSpeaker));
    CheckGot(pSettings->Run(pWin.Out()), pWin);
    if (SetSlideShowWindow(pWin.get()) != COA_E_SUCCESS) return COA_E_PPTCALL;
    CComPtr<SlideShowView> pView;
    CheckGot(pWin->get_View(pView.Out()), pView);
    // The audience's keys and clicks must not move the show.
    CheckHR(pView->put_AcceleratorsEnabled(msoFalse));
  } catch (const std::exception& e) {
    DebugTrace("COA - starting the show: %s\n", e.what());
    return COA_E_PPTCALL;
  }
  return COA_E_SUCCESS;
}

DWORD COA::DeleteTempFiles() {
  char szPath[MAX_PATH + 1];
  for (; m_nSlideCounter > 0; --m_nSlideCounter) {
    const DWORD dwSlide = static_cast<DWORD>(m_nSlideCounter);
    if (SlideFileName(dwSlide, szPath)) DeleteTempFile(szPath);
    if (SlideCabName(dwSlide, szPath)) DeleteTempFile(szPath);
  }
  if (m_fTempFiles) {
    if (MasterFileName(szPath)) DeleteTempFile(szPath);
    if (MasterCabName(szPath)) DeleteTempFile(szPath);
    m_fTempFiles = 0;
  }
  return COA_E_SUCCESS;
}

void COA::DestroyWaitDialog() {
  delete std::exchange(m_pWaitDialog, nullptr);  // its destructor destroys the window
}

void COA::DestroyTracker() {
  if (m_pTracker == nullptr) return;
  COATracker* pTracker = std::exchange(m_pTracker, nullptr);
  // The view lets go of it; should it not, the detached tracker does nothing.
  if (SlideShowView* pView = pTracker->GetView()) pView->InstallTracker(nullptr, msoFalse);
  pTracker->Detach();
  pTracker->Release();
}

void COA::Cleanup() {
  DestroyWaitDialog();
  DeleteTempFiles();
  if (m_pSSWin != nullptr) std::exchange(m_pSSWin, nullptr)->Release();
  DestroyTracker();
  if (m_pApp != nullptr) std::exchange(m_pApp, nullptr)->Release();
  m_hWndPP = nullptr;
}
