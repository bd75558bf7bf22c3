// The document side of the object model: Presentations, _Presentation,
// Slides, _Slide, Shapes, Shape, TextFrame, TextRange, Tags and
// SlideShowSettings.
#include <algorithm>
#include <span>

#include "com/DispatchImpl.h"
#include "host/Objects.h"
#include "platform/File.h"

namespace host {
namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return low(x) == low(y);
         });
}

// A 1-based index from any number type.
HRESULT IndexFrom(const VARIANT& v, LONG* pn) {
  com::CComVariant n;
  if ((v.vt & VT_TYPEMASK) == VT_ERROR) return DISP_E_TYPEMISMATCH;
  HRESULT hr = VariantChangeType(&n, &v, 0, VT_I4);
  if (FAILED(hr)) return hr;
  *pn = n.lVal;
  return S_OK;
}

HRESULT Win32Hr(DWORD err) { return err == 0 ? S_OK : HRESULT_FROM_WIN32(err); }

class CTags final : public com::CDualObject<CTags, Tags> {
 public:
  explicit CTags(std::shared_ptr<CPresDoc> pres) : m_pres(std::move(pres)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&Tags::get_Count>("Count", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&Tags::Item>("Item", 0),
        com::DispMethod<&Tags::Add>("Add", 2),
    };
    return kTable;
  }
  HRESULT get_Count(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    *pn = static_cast<LONG>(m_pres->tags.size());
    return S_OK;
  }
  HRESULT Item(BSTR Name, BSTR* pbstr) override {
    if (!ClearOut(pbstr)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    const std::string name = Utf8(Name);
    for (const auto& [n, v] : m_pres->tags)
      if (SameText(n, name)) return BstrOut(v, pbstr);
    return BstrOut("", pbstr);
  }
  HRESULT Add(BSTR Name, BSTR Value) override {
    if (m_pres->fClosed) return E_FAIL;
    const std::string name = Utf8(Name);
    if (name.empty()) return E_INVALIDARG;
    for (auto& [n, v] : m_pres->tags) {
      if (SameText(n, name)) {
        v = Utf8(Value);
        return S_OK;
      }
    }
    m_pres->tags.emplace_back(name, Utf8(Value));
    return S_OK;
  }

 private:
  std::shared_ptr<CPresDoc> m_pres;
};

class CTextRange final : public com::CDualObject<CTextRange, TextRange> {
 public:
  explicit CTextRange(std::shared_ptr<CSlideDoc> slide) : m_slide(std::move(slide)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&TextRange::get_Text>("Text", 0, com::DispKind::kPropertyGet),
        com::DispMethod<&TextRange::put_Text>("Text", 0, com::DispKind::kPropertyPut),
    };
    return kTable;
  }
  HRESULT get_Text(BSTR* pbstr) override {
    if (!ClearOut(pbstr)) return E_POINTER;
    if (!Alive()) return E_FAIL;
    return BstrOut(m_slide->content.title, pbstr);
  }
  HRESULT put_Text(BSTR bstr) override {
    if (!Alive()) return E_FAIL;
    m_slide->content.title = Utf8(bstr);
    if (auto state = CHostState::Current()) state->ViewChanged();
    return S_OK;
  }

 private:
  bool Alive() const {
    auto pres = m_slide->pres.lock();
    return !m_slide->fDeleted && m_slide->content.fHasTitle && pres && !pres->fClosed;
  }
  std::shared_ptr<CSlideDoc> m_slide;
};

class CTextFrame final : public com::CDualObject<CTextFrame, TextFrame> {
 public:
  explicit CTextFrame(std::shared_ptr<CSlideDoc> slide) : m_slide(std::move(slide)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&TextFrame::get_TextRange>("TextRange", 1, com::DispKind::kPropertyGet),
    };
    return kTable;
  }
  HRESULT get_TextRange(TextRange** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_slide->fDeleted) return E_FAIL;
    return HandOut<CTextRange>(pp, m_slide);
  }

 private:
  std::shared_ptr<CSlideDoc> m_slide;
};

class CShape final : public com::CDualObject<CShape, Shape> {
 public:
  explicit CShape(std::shared_ptr<CSlideDoc> slide) : m_slide(std::move(slide)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&Shape::get_TextFrame>("TextFrame", 1, com::DispKind::kPropertyGet),
    };
    return kTable;
  }
  HRESULT get_TextFrame(TextFrame** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_slide->fDeleted) return E_FAIL;
    return HandOut<CTextFrame>(pp, m_slide);
  }

 private:
  std::shared_ptr<CSlideDoc> m_slide;
};

class CShapes final : public com::CDualObject<CShapes, Shapes> {
 public:
  explicit CShapes(std::shared_ptr<CSlideDoc> slide) : m_slide(std::move(slide)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&Shapes::get_HasTitle>("HasTitle", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&Shapes::get_Title>("Title", 2, com::DispKind::kPropertyGet),
        com::DispMethod<&Shapes::AddTitle>("AddTitle", 3),
    };
    return kTable;
  }
  HRESULT get_HasTitle(MsoTriState* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (!Alive()) return E_FAIL;
    *p = m_slide->content.fHasTitle ? msoTrue : msoFalse;
    return S_OK;
  }
  HRESULT get_Title(Shape** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (!Alive() || !m_slide->content.fHasTitle) return E_FAIL;
    return HandOut<CShape>(pp, m_slide);
  }
  HRESULT AddTitle(Shape** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (!Alive() || m_slide->content.fHasTitle) return E_FAIL;
    m_slide->content.fHasTitle = true;
    m_slide->content.title.clear();
    return HandOut<CShape>(pp, m_slide);
  }

 private:
  bool Alive() const {
    auto pres = m_slide->pres.lock();
    return !m_slide->fDeleted && pres && !pres->fClosed;
  }
  std::shared_ptr<CSlideDoc> m_slide;
};

class CSlide final : public com::CDualObject<CSlide, _Slide> {
 public:
  CSlide(std::shared_ptr<CHostState> state, std::shared_ptr<CSlideDoc> slide)
      : m_state(std::move(state)), m_slide(std::move(slide)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&_Slide::get_Parent>("Parent", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&_Slide::get_Shapes>("Shapes", 2, com::DispKind::kPropertyGet),
        com::DispMethod<&_Slide::get_SlideIndex>("SlideIndex", 3, com::DispKind::kPropertyGet),
        com::DispMethod<&_Slide::Copy>("Copy", 4),
        com::DispMethod<&_Slide::Delete>("Delete", 5),
    };
    return kTable;
  }
  HRESULT get_Parent(IDispatch** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    auto pres = Pres();
    if (!pres) return E_FAIL;
    _Presentation* p = nullptr;
    HRESULT hr = NewPresentation(m_state, pres, &p);
    *pp = p;
    return hr;
  }
  HRESULT get_Shapes(Shapes** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (!Pres()) return E_FAIL;
    return HandOut<CShapes>(pp, m_slide);
  }
  HRESULT get_SlideIndex(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    auto pres = Pres();
    if (!pres) return E_FAIL;
    *pn = pres->IndexOf(m_slide.get());
    return S_OK;
  }
  HRESULT Copy() override {
    if (!Pres()) return E_FAIL;
    m_state->clipboard = m_slide->content;
    m_state->fHaveClipboard = true;
    return S_OK;
  }
  HRESULT Delete() override {
    auto pres = Pres();
    if (!pres) return E_FAIL;
    const LONG index = pres->IndexOf(m_slide.get());
    std::erase(pres->slides, m_slide);
    m_slide->fDeleted = true;
    m_state->SlideDeleted(pres, index);
    return S_OK;
  }

 private:
  std::shared_ptr<CPresDoc> Pres() const {
    auto pres = m_slide->pres.lock();
    return m_slide->fDeleted || !pres || pres->fClosed ? nullptr : pres;
  }
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CSlideDoc> m_slide;
};

class CSlides final : public com::CDualObject<CSlides, Slides> {
 public:
  CSlides(std::shared_ptr<CHostState> state, std::shared_ptr<CPresDoc> pres)
      : m_state(std::move(state)), m_pres(std::move(pres)) {}
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&Slides::get_Count>("Count", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&Slides::Item>("Item", 0),
        com::DispMethod<&Slides::Add>("Add", 2),
        com::DispMethod<&Slides::InsertFromFile, 1, -1>("InsertFromFile", 3),
        com::DispMethod<&Slides::Paste, -1>("Paste", 4),
    };
    return kTable;
  }
  HRESULT get_Count(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    *pn = static_cast<LONG>(m_pres->slides.size());
    return S_OK;
  }
  HRESULT Item(VARIANT Index, _Slide** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    LONG n = 0;
    if (FAILED(IndexFrom(Index, &n))) return DISP_E_TYPEMISMATCH;
    if (n < 1 || n > Count()) return DISP_E_BADINDEX;
    return NewSlide(m_state, m_pres->slides[static_cast<std::size_t>(n - 1)], pp);
  }
  HRESULT Add(LONG Index, PpSlideLayout Layout, _Slide** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    if (Index < 1 || Index > Count() + 1) return DISP_E_BADINDEX;
    if (Layout < 1 || Layout > 1000) return E_INVALIDARG;
    SlideContent content;
    content.nLayout = Layout;
    content.fHasTitle = Layout != kLayoutBlank;
    auto slide = m_pres->InsertSlide(static_cast<std::size_t>(Index - 1), content, m_pres);
    m_state->ViewChanged();
    return NewSlide(m_state, slide, pp);
  }
  HRESULT InsertFromFile(BSTR FileName, LONG Index, LONG SlideStart, LONG SlideEnd,
                         LONG* pnRet) override {
    if (pnRet != nullptr) *pnRet = 0;
    if (m_pres->fClosed) return E_FAIL;
    if (Index < 0 || Index > Count()) return DISP_E_BADINDEX;
    PresentationContent file;
    HRESULT hr = Win32Hr(ReadPresentationFile(Utf8(FileName), &file));
    if (FAILED(hr)) return hr;
    const LONG nFile = static_cast<LONG>(file.slides.size());
    if (SlideEnd == -1) SlideEnd = nFile;
    if (SlideStart < 1 || SlideStart > nFile || SlideEnd < SlideStart || SlideEnd > nFile)
      return DISP_E_BADINDEX;
    for (LONG i = SlideStart; i <= SlideEnd; ++i) {
      m_pres->InsertSlide(static_cast<std::size_t>(Index + i - SlideStart),
                          file.slides[static_cast<std::size_t>(i - 1)], m_pres);
    }
    if (pnRet != nullptr) *pnRet = SlideEnd - SlideStart + 1;
    m_state->ViewChanged();
    return S_OK;
  }
  HRESULT Paste(LONG Index) override {
    if (m_pres->fClosed || !m_state->fHaveClipboard) return E_FAIL;
    if (Index == -1) Index = Count() + 1;
    if (Index < 1 || Index > Count() + 1) return DISP_E_BADINDEX;
    m_pres->InsertSlide(static_cast<std::size_t>(Index - 1), m_state->clipboard, m_pres);
    m_state->ViewChanged();
    return S_OK;
  }

 private:
  static constexpr LONG kLayoutBlank = 12;
  LONG Count() const { return static_cast<LONG>(m_pres->slides.size()); }
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CPresDoc> m_pres;
};

class CSlideShowSettings final : public com::CDualObject<CSlideShowSettings, SlideShowSettings> {
 public:
  CSlideShowSettings(std::shared_ptr<CHostState> state, std::shared_ptr<CPresDoc> pres)
      : m_state(std::move(state)), m_pres(std::move(pres)) {}
  static std::span<const com::DispMember> DispTable() {
    using S = SlideShowSettings;
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&S::get_AdvanceMode>("AdvanceMode", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&S::put_AdvanceMode>("AdvanceMode", 1, com::DispKind::kPropertyPut),
        com::DispMethod<&S::get_ShowType>("ShowType", 2, com::DispKind::kPropertyGet),
        com::DispMethod<&S::put_ShowType>("ShowType", 2, com::DispKind::kPropertyPut),
        com::DispMethod<&S::Run>("Run", 3),
    };
    return kTable;
  }
  HRESULT get_AdvanceMode(PpSlideShowAdvanceMode* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    *p = m_pres->advanceMode;
    return S_OK;
  }
  HRESULT put_AdvanceMode(PpSlideShowAdvanceMode mode) override {
    if (m_pres->fClosed) return E_FAIL;
    if (mode != ppSlideShowManualAdvance && mode != ppSlideShowUseSlideTimings) return E_INVALIDARG;
    m_pres->advanceMode = mode;
    return S_OK;
  }
  HRESULT get_ShowType(PpSlideShowType* p) override {
    if (!ClearOut(p)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    *p = m_pres->showType;
    return S_OK;
  }
  HRESULT put_ShowType(PpSlideShowType type) override {
    if (m_pres->fClosed) return E_FAIL;
    if (type < ppShowTypeSpeaker || type > ppShowTypeKiosk) return E_INVALIDARG;
    m_pres->showType = type;
    return S_OK;
  }
  HRESULT Run(SlideShowWindow** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed || m_pres->slides.empty()) return E_FAIL;
    for (const auto& show : m_state->shows)
      if (show->pres == m_pres) return E_FAIL;
    return NewSlideShowWindow(m_state, m_state->StartShow(m_pres), pp);
  }

 private:
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CPresDoc> m_pres;
};

class CPresentation final : public com::CDualObject<CPresentation, _Presentation> {
 public:
  CPresentation(std::shared_ptr<CHostState> state, std::shared_ptr<CPresDoc> pres)
      : m_state(std::move(state)), m_pres(std::move(pres)) {}
  static std::span<const com::DispMember> DispTable() {
    using P = _Presentation;
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&P::get_Slides>("Slides", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&P::get_SlideShowSettings>("SlideShowSettings", 2,
                                                   com::DispKind::kPropertyGet),
        com::DispMethod<&P::get_Tags>("Tags", 3, com::DispKind::kPropertyGet),
        com::DispMethod<&P::get_Name>("Name", 4, com::DispKind::kPropertyGet),
        com::DispMethod<&P::get_FullName>("FullName", 5, com::DispKind::kPropertyGet),
        com::DispMethod<&P::Save>("Save", 6),
        com::DispMethod<&P::SaveAs, ppSaveAsPresentation, msoFalse>("SaveAs", 7),
        com::DispMethod<&P::SaveCopyAs, ppSaveAsPresentation, msoFalse>("SaveCopyAs", 8),
        com::DispMethod<&P::Close>("Close", 9),
    };
    return kTable;
  }
  HRESULT get_Slides(Slides** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    return HandOut<CSlides>(pp, m_state, m_pres);
  }
  HRESULT get_SlideShowSettings(SlideShowSettings** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    return HandOut<CSlideShowSettings>(pp, m_state, m_pres);
  }
  HRESULT get_Tags(Tags** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    return HandOut<CTags>(pp, m_pres);
  }
  HRESULT get_Name(BSTR* pbstr) override {
    if (!ClearOut(pbstr)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    return BstrOut(m_pres->name, pbstr);
  }
  HRESULT get_FullName(BSTR* pbstr) override {
    if (!ClearOut(pbstr)) return E_POINTER;
    if (m_pres->fClosed) return E_FAIL;
    return BstrOut(m_pres->path.empty() ? m_pres->name : m_pres->path, pbstr);
  }
  HRESULT Save() override {
    if (m_pres->fClosed || m_pres->path.empty() || m_pres->fReadOnly) return E_FAIL;
    return Win32Hr(WritePresentationFile(m_pres->path, m_pres->Content()));
  }
  HRESULT SaveAs(BSTR FileName, PpSaveAsFileType, MsoTriState) override {
    if (m_pres->fClosed) return E_FAIL;
    std::string path = Utf8(FileName);
    if (path.empty()) return E_INVALIDARG;
    HRESULT hr = Win32Hr(WritePresentationFile(path, m_pres->Content()));
    if (FAILED(hr)) return hr;
    m_pres->path = path;
    m_pres->name = platform::BaseName(path);
    m_pres->fReadOnly = false;
    m_state->UpdateFrameTitle();
    return S_OK;
  }
  HRESULT SaveCopyAs(BSTR FileName, PpSaveAsFileType, MsoTriState) override {
    if (m_pres->fClosed) return E_FAIL;
    std::string path = Utf8(FileName);
    if (path.empty()) return E_INVALIDARG;
    return Win32Hr(WritePresentationFile(path, m_pres->Content()));
  }
  HRESULT Close() override {
    if (m_pres->fClosed) return E_FAIL;
    m_state->ClosePresentation(m_pres);
    return S_OK;
  }

 private:
  std::shared_ptr<CHostState> m_state;
  std::shared_ptr<CPresDoc> m_pres;
};

class CPresentations final : public com::CDualObject<CPresentations, Presentations> {
 public:
  explicit CPresentations(std::shared_ptr<CHostState> state) : m_state(std::move(state)) {}
  static std::span<const com::DispMember> DispTable() {
    using P = Presentations;
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&P::get_Count>("Count", 1, com::DispKind::kPropertyGet),
        com::DispMethod<&P::Item>("Item", 0),
        com::DispMethod<&P::Add, msoTrue>("Add", 2),
        com::DispMethod<&P::Open, msoFalse, msoFalse, msoTrue>("Open", 3),
    };
    return kTable;
  }
  HRESULT get_Count(LONG* pn) override {
    if (!ClearOut(pn)) return E_POINTER;
    *pn = static_cast<LONG>(m_state->presentations.size());
    return S_OK;
  }
  HRESULT Item(VARIANT Index, _Presentation** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    const VARIANT& v =
        Index.vt == (VT_BYREF | VT_VARIANT) && Index.pvarVal ? *Index.pvarVal : Index;
    if ((v.vt & VT_TYPEMASK) == VT_BSTR) {
      std::string name = Utf8((v.vt & VT_BYREF) ? *v.pbstrVal : v.bstrVal);
      for (const auto& pres : m_state->presentations)
        if (SameText(pres->name, name) || SameText(pres->path, name))
          return NewPresentation(m_state, pres, pp);
      return DISP_E_BADINDEX;
    }
    LONG n = 0;
    if (FAILED(IndexFrom(v, &n))) return DISP_E_TYPEMISMATCH;
    if (n < 1 || n > static_cast<LONG>(m_state->presentations.size())) return DISP_E_BADINDEX;
    return NewPresentation(m_state, m_state->presentations[static_cast<std::size_t>(n - 1)], pp);
  }
  HRESULT Add(MsoTriState WithWindow, _Presentation** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    auto pres = std::make_shared<CPresDoc>();
    pres->name = "Presentation" + std::to_string(++m_state->nUntitled);
    pres->design = PresentationContent{}.design;
    pres->fWindow = WithWindow != msoFalse;
    m_state->AddPresentation(pres);
    return NewPresentation(m_state, pres, pp);
  }
  HRESULT Open(BSTR FileName, MsoTriState ReadOnly, MsoTriState Untitled, MsoTriState WithWindow,
               _Presentation** pp) override {
    if (!ClearOut(pp)) return E_POINTER;
    std::string path = Utf8(FileName);
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    PresentationContent content;
    HRESULT hr = Win32Hr(ReadPresentationFile(path, &content));
    if (FAILED(hr)) return hr;
    auto pres = std::make_shared<CPresDoc>();
    if (Untitled != msoFalse) {
      pres->name = "Presentation" + std::to_string(++m_state->nUntitled);
    } else {
      pres->path = path;
      pres->name = platform::BaseName(path);
    }
    pres->fReadOnly = ReadOnly != msoFalse;
    pres->fWindow = WithWindow != msoFalse;
    pres->SetContent(content, pres);
    m_state->AddPresentation(pres);
    return NewPresentation(m_state, pres, pp);
  }

 private:
  std::shared_ptr<CHostState> m_state;
};

}  // namespace

HRESULT NewPresentations(const std::shared_ptr<CHostState>& state, Presentations** pp) {
  return HandOut<CPresentations>(pp, state);
}

HRESULT NewPresentation(const std::shared_ptr<CHostState>& state,
                        const std::shared_ptr<CPresDoc>& pres, _Presentation** pp) {
  return HandOut<CPresentation>(pp, state, pres);
}

HRESULT NewSlide(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CSlideDoc>& slide,
                 _Slide** pp) {
  return HandOut<CSlide>(pp, state, slide);
}

std::string Utf8(BSTR b) { return com::Utf8FromBstr(b); }

HRESULT BstrOut(const std::string& text, BSTR* pbstr) {
  if (pbstr == nullptr) return E_POINTER;
  *pbstr = com::BstrFromUtf8(text);
  return *pbstr == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace host
