#include "orvalo/COATracker.h"

#include <utility>

#include "ErrStuff/DebugTrace.h"
#include "com/ComPtr.h"

namespace {
// Keeps the tracker alive through a call that may end in its owner's cleanup.
class CSelfRef {
 public:
  explicit CSelfRef(COATracker* p) : m_p(p) { m_p->AddRef(); }
  ~CSelfRef() { m_p->Release(); }
  CSelfRef(const CSelfRef&) = delete;
  CSelfRef& operator=(const CSelfRef&) = delete;

 private:
  COATracker* m_p;
};
}  // namespace

COATracker::COATracker(SlideShowView* pView, StrokeSink sink)
    : m_sink(std::move(sink)), m_pView(pView), m_pRequest(std::make_shared<CPtsRequest>()) {
  if (m_pView != nullptr) m_pView->AddRef();
}

COATracker::~COATracker() { Detach(); }

HRESULT COATracker::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == MouseTracker::kIID) {
    AddRef();
    *ppvObject = static_cast<MouseTracker*>(this);
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG COATracker::AddRef() { return ++m_cRef; }

ULONG COATracker::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

HRESULT COATracker::OnTrack(float X, float Y) {
  if (m_pRequest == nullptr || m_pView == nullptr) return E_FAIL;
  CSelfRef self(this);
  if (m_fHaveLast) {
    if (FAILED(m_pView->DrawLine(m_fLastX, m_fLastY, X, Y))) return E_FAIL;
  } else {
    m_fHaveLast = TRUE;
  }
  m_fLastX = X;
  m_fLastY = Y;
  if (m_pRequest == nullptr) return E_FAIL;  // detached while drawing
  return m_pRequest->AddPoint(X, Y) ? S_OK : E_FAIL;
}

HRESULT COATracker::EndTrack(float, float) {
  if (m_pRequest == nullptr) return S_OK;
  // Copies: the hand-over may end in the owner's cleanup, which detaches us.
  CSelfRef self(this);
  const std::shared_ptr<CPtsRequest> pRequest = m_pRequest;
  const StrokeSink sink = m_sink;
  LONG nRGB = 0;
  com::CComPtr<ColorFormat> pColor;
  if (m_pView != nullptr && SUCCEEDED(m_pView->get_PointerColor(pColor.Out())) && pColor &&
      FAILED(pColor->get_RGB(&nRGB))) {
    nRGB = 0;
  }
  pRequest->SetColor(static_cast<DWORD>(nRGB));
  // A stroke without points carries nothing to draw.
  if (sink && pRequest->GetNumPoints() > 0 && !sink(pRequest.get())) {
    DebugTrace("COATracker::EndTrack - SendPoints failed\n");
  }
  pRequest->ClearPoints();
  m_fHaveLast = FALSE;
  return S_OK;
}

void COATracker::Detach() {
  m_pRequest.reset();
  m_sink = nullptr;
  if (m_pView != nullptr) std::exchange(m_pView, nullptr)->Release();
  m_fHaveLast = FALSE;
}
