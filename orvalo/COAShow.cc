// COA: the slide show: its window, moving it, its screen, its end and the pen.
#include <strings.h>

#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "ErrStuff/DebugTrace.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "orvalo/COA.h"
#include "orvalo/COATracker.h"
#include "orvalo/OAHelpers.h"
#include "orvalo/Presenter.h"
#include "orvalo/PtsPacket.h"
#include "platform/DebugOutput.h"

using com::CComBSTR;
using com::CComPtr;
using orvalo::CheckGot;
using orvalo::CheckHR;

namespace {
// The largest animation step the slide protocol carries.
constexpr int kMaxStep = 0xFFFF;
}  // namespace

DWORD COA::SetSlideShowWindow() {
  if (!ORV_ASSERT(m_pApp != NULL)) return 2;
  try {
    CComPtr<SlideShowWindows> pWindows;
    CheckGot(m_pApp->get_SlideShowWindows(pWindows.Out()), pWindows);
    LONG lCount = 0;
    CheckHR(pWindows->get_Count(&lCount));
    for (LONG i = 1; i <= lCount; ++i) {
      CComPtr<SlideShowWindow> pWin;
      CComPtr<SlideShowView> pView;
      CComPtr<_Slide> pSlide;
      CComPtr<IDispatch> pParent;
      CComPtr<_Presentation> pPres;
      CComPtr<Tags> pTags;
      CComBSTR value;
      CheckGot(pWindows->Item(i, pWin.Out()), pWin);
      CheckGot(pWin->get_View(pView.Out()), pView);
      CheckGot(pView->get_Slide(pSlide.Out()), pSlide);
      CheckGot(pSlide->get_Parent(pParent.Out()), pParent);
      CheckHR(pPres.QueryFrom(pParent.get()));
      CheckGot(pPres->get_Tags(pTags.Out()), pTags);
      CheckHR(pTags->Item(CComBSTR("ReriRudo"), value.Out()));
      if (strcasecmp(orvalo::WideToAnsi(value), "1") == 0) {
        return SetSlideShowWindow(pWin.get()) == COA_E_SUCCESS ? COA_E_SUCCESS : 2;
      }
    }
  } catch (const std::exception& e) {
    DebugTrace("COA::SetSlideShowWindow - %s\n", e.what());
    return 2;
  }
  return 1;
}

DWORD COA::SetSlideShowWindow(SlideShowWindow* pSSWin) {
  if (!ORV_ASSERT(pSSWin != NULL)) return 2;
  pSSWin->AddRef();
  if (m_pSSWin != nullptr) m_pSSWin->Release();
  m_pSSWin = pSSWin;
  return COA_E_SUCCESS;
}

DWORD COA::GetView(SlideShowView** ppView) {
  *ppView = nullptr;
  if (m_pSSWin == nullptr) return COA_E_PPTCALL;
  HRESULT hr = m_pSSWin->get_View(ppView);
  if (FAILED(hr) || *ppView == nullptr) {
    if (*ppView != nullptr) std::exchange(*ppView, nullptr)->Release();
    return COA_E_PPTCALL;
  }
  return COA_E_SUCCESS;
}

DWORD COA::InstallTracker(CPresenter* pPresenter) {
  if (!ORV_ASSERT(pPresenter != NULL)) return COA_E_PPTCALL;
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  DestroyTracker();
  COATracker* pTracker = nullptr;
  try {
    pTracker = new COATracker(pView.get(), [pPresenter](CPtsRequest* pRequest) {
      return pPresenter->SendPoints(pRequest);
    });
  } catch (const std::bad_alloc&) {
    return COA_E_PPTCALL;
  }
  if (FAILED(pView->InstallTracker(pTracker, msoFalse))) {
    DebugTrace("COA::InstallTracker - the view refused the tracker\n");
    pTracker->Detach();
    pTracker->Release();
    return COA_E_PPTCALL;
  }
  m_pTracker = pTracker;
  return COA_E_SUCCESS;
}

DWORD COA::GoTo(int nWhich, int nStep) {
  // Both come from the network.
  if (nStep < 0 || nStep > kMaxStep) {
    DebugTrace("COA::GoTo [%d,%d] - no such step, ignored\n", nWhich, nStep);
    return COA_E_PPTCALL;
  }
  m_nTargetSlide = nWhich;
  m_nTargetStep = nStep;
  DebugTrace("COA::GoTo [%d,%d] current [%d,%d]\n", m_nTargetSlide, m_nTargetStep, m_nCurSlide,
             m_nCurStep);
  if (nWhich != m_nCurSlide) {
    const DWORD dwResult = GotoSlide(nWhich);
    if (dwResult != COA_E_SUCCESS) return dwResult;  // the position stays
    m_nCurSlide = nWhich;
    m_nCurStep = 0;
  }
  const int nDirection = m_nCurStep < nStep ? 1 : -1;
  while (m_nCurStep != nStep) {
    const DWORD dwResult = Advance(nDirection, nWhich);
    if (dwResult != COA_E_SUCCESS) return dwResult;
    m_nCurStep += nDirection;
  }
  return COA_E_SUCCESS;
}

DWORD COA::GotoSlide(int nWhich) {
  if (!ORV_ASSERT(nWhich <= MAX_SLIDES) || !ORV_ASSERT(nWhich >= 0)) return COA_E_PPTCALL;
  SetPointerType(ppSlideShowPointerArrow);  // also ends pen mode
  if (m_Have[nWhich] == 0) {
    DebugTrace("Goto slide %d -> don't have it - ignore\n", nWhich);
    return COA_E_NOSLIDE;
  }
  DebugTrace("Goto slide %d -> %d\n", nWhich, m_LocalIndex[nWhich]);
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  return SUCCEEDED(pView->GotoSlide(m_LocalIndex[nWhich], msoTrue)) ? COA_E_SUCCESS : COA_E_PPTCALL;
}

DWORD COA::Advance(int nDirection, int nOwnerCurSlide) {
  if (!ORV_ASSERT(nOwnerCurSlide <= MAX_SLIDES) || !ORV_ASSERT(nOwnerCurSlide >= 0)) {
    return COA_E_PPTCALL;
  }
  if (m_Have[nOwnerCurSlide] == 0) {
    DebugTrace("Advance (ignored - don't have slide) slide %d step direction %d\n", nOwnerCurSlide,
               nDirection);
    return COA_E_SUCCESS;
  }
  if (!ORV_ASSERT(nOwnerCurSlide == m_nCurSlide)) return COA_E_PPTCALL;
  DebugTrace("Advance slide %d step direction %d\n", nOwnerCurSlide, nDirection);
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  const HRESULT hr = nDirection < 0 ? pView->Previous() : pView->Next();
  return SUCCEEDED(hr) ? COA_E_SUCCESS : COA_E_PPTCALL;
}

DWORD COA::SetPointerType(PpSlideShowPointerType type) {
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  return SUCCEEDED(pView->put_PointerType(type)) ? COA_E_SUCCESS : COA_E_PPTCALL;
}

DWORD COA::SetScreen(int nState) {
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  HRESULT hr;
  switch (nState) {
    case 1:
      hr = pView->EraseDrawing();
      break;
    case 2:
      hr = pView->put_State(ppSlideShowPaused);
      break;
    case 3:
      hr = pView->put_State(ppSlideShowBlackScreen);
      break;
    default:
      hr = pView->put_State(ppSlideShowRunning);
      break;
  }
  return SUCCEEDED(hr) ? COA_E_SUCCESS : COA_E_PPTCALL;
}

DWORD COA::Quit() {
  if (m_pSSWin == nullptr) return COA_E_PPTCALL;
  // The end of the conference goes on record with the show's presentation;
  // the show ends even when it cannot.
  try {
    CComPtr<_Presentation> pPres;
    CComPtr<Tags> pTags;
    CheckGot(m_pSSWin->get_Presentation(pPres.Out()), pPres);
    CheckGot(pPres->get_Tags(pTags.Out()), pTags);
    CheckHR(pTags->Add(CComBSTR("ConferenceServer"), CComBSTR("0")));
  } catch (const std::exception& e) {
    DebugTrace("COA::Quit - tag not set: %s\n", e.what());
  }
  CComPtr<SlideShowView> pView;
  if (GetView(pView.Out()) != COA_E_SUCCESS) return COA_E_PPTCALL;
  return SUCCEEDED(pView->Exit()) ? COA_E_SUCCESS : COA_E_PPTCALL;
}

DWORD COA::DrawPoints(const tPtsPoint* pPoints, DWORD dwCount, DWORD dwColor) {
  DebugTrace("--- %d Points to draw ---\n", static_cast<int>(dwCount));
  if (dwCount > 0 && !ORV_ASSERT(pPoints != NULL)) return COA_E_PPTCALL;
  CComPtr<SlideShowView> pView;
  if (m_pTracker != nullptr && m_pTracker->GetView() != nullptr) {
    pView = CComPtr<SlideShowView>(m_pTracker->GetView());
  } else if (GetView(pView.Out()) != COA_E_SUCCESS) {
    return COA_E_PPTCALL;
  }

  CComPtr<ColorFormat> pColor;
  LONG nSavedRGB = 0;
  if (FAILED(pView->get_PointerColor(pColor.Out())) || !pColor ||
      FAILED(pColor->get_RGB(&nSavedRGB))) {
    pColor.Release();
  } else {
    pColor->put_RGB(static_cast<LONG>(dwColor));
  }

  DWORD dwResult = COA_E_SUCCESS;
  BOOL fHaveLast = FALSE;
  float fLastX = 0;
  float fLastY = 0;
  for (DWORD i = 0; i < dwCount; ++i) {
    const tPtsPoint& pt = pPoints[i];
    if (!std::isfinite(pt.x) || !std::isfinite(pt.y)) {
      fHaveLast = FALSE;  // no line to or from a point that is not one
      continue;
    }
    if (fHaveLast && FAILED(pView->DrawLine(fLastX, fLastY, pt.x, pt.y))) {
      dwResult = COA_E_PPTCALL;
      break;
    }
    fHaveLast = TRUE;
    fLastX = pt.x;
    fLastY = pt.y;
  }

  if (pColor) pColor->put_RGB(nSavedRGB);
  return dwResult;
}

DWORD COA::DrawPoints(const CPtsPacket& packet) {
  std::vector<tPtsPoint> points;
  try {
    points.resize(packet.GetNumPoints());
  } catch (const std::bad_alloc&) {
    return COA_E_PPTCALL;
  }
  for (DWORD i = 0; i < points.size(); ++i) {
    if (!packet.GetPoint(i, &points[i])) return COA_E_PPTCALL;
  }
  return DrawPoints(points.data(), static_cast<DWORD>(points.size()), packet.GetColor());
}
