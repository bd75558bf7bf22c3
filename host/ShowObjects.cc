// The slide-show side of the object model: SlideShowWindows,
// SlideShowWindow, SlideShowView and the pen's ColorFormat.
#include <span>

#include "com/DispatchImpl.h"
#include "host/Objects.h"

namespace host {
namespace {

class CPenColor final : public com::CDualObject<CPenColor, ColorFormat> {
 public:
  explicit CPenColor(std::shared_ptr<CShowDoc> show) : m_show(std::move(show)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&ColorFormat::get_RGB>("RGB", 0, com::DispKind::kPropertyGet),
        com::DispMethod<&ColorFormat::put_RGB>("RGB", 0, com::DispKind::kPropertyPut),
    };
    return kTable;
  }
  HRESULT get_RGB(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    *pn = m_show->penRgb;
    return S_OK;
  }
  HRESULT put_RGB(LONG nRGB) override {
    if (m_show->fEnded) return E_FAIL;
    if ((static_cast<DWORD>(nRGB) & 0xFF000000u) != 0) return E_INVALIDARG;
    m_show->penRgb = nRGB;
    return S_OK;
  }

 private:
  std::shared_ptr<CShowDoc> m_show;
};

class CSlideShowView final : public com::CDualObject<CSlideShowView, SlideShowView> {
 public:
  CSlideShowView(std::shared_ptr<CHostState> state, std::shared_ptr<CShowDoc> show)
      : m_state(std::move(state)), m_show(std::move(show)) {}
  static std::span<const com::DispMember> DispTable() {
    using V = SlideShowView;
    using K = com::DispKind;
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&V::get_Slide>("Slide", 1, K::kPropertyGet),
        com::DispMethod<&V::get_CurrentShowPosition>("CurrentShowPosition", 2, K::kPropertyGet),
        com::DispMethod<&V::get_PointerType>("PointerType", 3, K::kPropertyGet),
        com::DispMethod<&V::put_PointerType>("PointerType", 3, K::kPropertyPut),
        com::DispMethod<&V::get_State>("State", 4, K::kPropertyGet),
        com::DispMethod<&V::put_State>("State", 4, K::kPropertyPut),
        com::DispMethod<&V::get_AcceleratorsEnabled>("AcceleratorsEnabled", 5, K::kPropertyGet),
        com::DispMethod<&V::put_AcceleratorsEnabled>("AcceleratorsEnabled", 5, K::kPropertyPut),
        com::DispMethod<&V::get_PointerColor>("PointerColor", 6, K::kPropertyGet),
        com::DispMethod<&V::DrawLine>("DrawLine", 7),
        com::DispMethod<&V::EraseDrawing>("EraseDrawing", 8),
        com::DispMethod<&V::Next>("Next", 9),
        com::DispMethod<&V::Previous>("Previous", 10),
        com::DispMethod<&V::GotoSlide, msoTrue>("GotoSlide", 11),
        com::DispMethod<&V::Exit>("Exit", 12),
        com::DispMethod<&V::InstallTracker, msoFalse>("InstallTracker", 13),
    };
    return kTable;
  }
  HRESULT get_Slide(_Slide** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    return NewSlide(m_state, m_show->slide, pp);
  }
  HRESULT get_CurrentShowPosition(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    *pn = m_show->pres->IndexOf(m_show->slide.get());
    return S_OK;
  }
  HRESULT get_PointerType(PpSlideShowPointerType* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    *p = m_show->pointer;
    return S_OK;
  }
  HRESULT put_PointerType(PpSlideShowPointerType type) override {
    if (m_show->fEnded) return E_FAIL;
    if (type < ppSlideShowPointerNone || type > ppSlideShowPointerEraser) return E_INVALIDARG;
    m_show->pointer = type;
    return S_OK;
  }
  HRESULT get_State(PpSlideShowState* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    *p = m_show->state;
    return S_OK;
  }
  HRESULT put_State(PpSlideShowState state) override {
    if (m_show->fEnded) return E_FAIL;
    if (state == ppSlideShowDone) {
      m_state->EndShow(m_show);
      return S_OK;
    }
    if (state < ppSlideShowRunning || state > ppSlideShowWhiteScreen) return E_INVALIDARG;
    if (m_show->state != state) {
      m_show->state = state;
      m_state->ViewChanged();
    }
    return S_OK;
  }
  HRESULT get_AcceleratorsEnabled(MsoTriState* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    *p = m_show->fAccelerators ? msoTrue : msoFalse;
    return S_OK;
  }
  HRESULT put_AcceleratorsEnabled(MsoTriState enabled) override {
    if (m_show->fEnded) return E_FAIL;
    m_show->fAccelerators = enabled != msoFalse;
    return S_OK;
  }
  HRESULT get_PointerColor(ColorFormat** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    return HandOut<CPenColor>(pp, m_show);
  }
  HRESULT DrawLine(float BeginX, float BeginY, float EndX, float EndY) override {
    if (m_show->fEnded) return E_FAIL;
    for (float f : {BeginX, BeginY, EndX, EndY})
      if (!(f > -1e6f && f < 1e6f)) return E_INVALIDARG;  // no NaN, no infinities
    if (m_show->lines.size() >= CHostState::kMaxLines) return E_OUTOFMEMORY;
    m_show->lines.push_back(PenLine{BeginX, BeginY, EndX, EndY, m_show->penRgb});
    m_state->ViewChanged();
    return S_OK;
  }
  HRESULT EraseDrawing() override {
    if (m_show->fEnded) return E_FAIL;
    if (!m_show->lines.empty()) {
      m_show->lines.clear();
      m_state->ViewChanged();
    }
    return S_OK;
  }
  HRESULT Next() override {
    if (m_show->fEnded) return E_FAIL;
    m_state->Next(m_show);
    return S_OK;
  }
  HRESULT Previous() override {
    if (m_show->fEnded) return E_FAIL;
    m_state->Previous(m_show);
    return S_OK;
  }
  HRESULT GotoSlide(LONG Index, MsoTriState ResetSlide) override {
    if (m_show->fEnded) return E_FAIL;
    return m_state->Goto(m_show, Index, ResetSlide != msoFalse);
  }
  HRESULT Exit() override {
    if (m_show->fEnded) return E_FAIL;
    m_state->EndShow(m_show);
    return S_OK;
  }
  HRESULT InstallTracker(MouseTracker* pTracker, MsoTriState) override {
    if (m_show->fEnded) return E_FAIL;
    m_show->tracker = com::CComPtr<MouseTracker>(pTracker);  // null: none from now on
    return S_OK;
  }

 private:
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CShowDoc> m_show;
};

class CSlideShowWindow final : public com::CDualObject<CSlideShowWindow, SlideShowWindow> {
 public:
  CSlideShowWindow(std::shared_ptr<CHostState> state, std::shared_ptr<CShowDoc> show)
      : m_state(std::move(state)), m_show(std::move(show)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&SlideShowWindow::get_View>("View", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&SlideShowWindow::get_Presentation>("Presentation", 2,
                                                            com::DispKind::kPropertyGet),
    };
    return kTable;
  }
  HRESULT get_View(SlideShowView** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    return NewSlideShowView(m_state, m_show, pp);
  }
  HRESULT get_Presentation(_Presentation** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_show->fEnded) return E_FAIL;
    return NewPresentation(m_state, m_show->pres, pp);
  }

 private:
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CShowDoc> m_show;
};

class CSlideShowWindows final : public com::CDualObject<CSlideShowWindows, SlideShowWindows> {
 public:
  explicit CSlideShowWindows(std::shared_ptr<CHostState> state) : m_state(std::move(state)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&SlideShowWindows::get_Count>("Count", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&SlideShowWindows::Item>("Item", 0),
    };
    return kTable;
  }
  HRESULT get_Count(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    *pn = static_cast<LONG>(m_state->shows.size());
    return S_OK;
  }
  HRESULT Item(LONG Index, SlideShowWindow** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (Index < 1 || Index > static_cast<LONG>(m_state->shows.size())) return DISP_E_BADINDEX;
    return NewSlideShowWindow(m_state, m_state->shows[static_cast<std::size_t>(Index - 1)], pp);
  }

 private:
  std::shared_ptr<CHostState> m_state;
};

}  // namespace

HRESULT NewSlideShowWindows(const std::shared_ptr<CHostState>& state, SlideShowWindows** pp) {
  return HandOut<CSlideShowWindows>(pp, state);
}

HRESULT NewSlideShowWindow(const std::shared_ptr<CHostState>& state,
                           const std::shared_ptr<CShowDoc>& show, SlideShowWindow** pp) {
  return HandOut<CSlideShowWindow>(pp, state, show);
}

HRESULT NewSlideShowView(const std::shared_ptr<CHostState>& state,
                         const std::shared_ptr<CShowDoc>& show, SlideShowView** pp) {
  return HandOut<CSlideShowView>(pp, state, show);
}

}  // namespace host
