#include "host/HostState.h"

#include <algorithm>

#include "host/AddinHost.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace host {
namespace {

std::weak_ptr<CHostState> g_state;  // the host's main thread only

constexpr const char* kFrameClass = "PP9FrameClass";
constexpr const char* kShowClass = "screenClass";

LRESULT FrameProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kMsgShowBegun) {
    if (auto state = CHostState::Current()) {
      for (const auto& show : state->shows) {
        if (show->nSerial == static_cast<LONG>(wParam) && !show->fBeginTold) {
          show->fBeginTold = true;
          CAddinHost::Instance().FireShowBegin(state, show);
          break;
        }
      }
    }
    return 0;
  }
  if (msg == WM_CLOSE) return 0;  // the host decides when it ends
  return DefWindowProc(hWnd, msg, wParam, lParam);
}

LRESULT ShowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) return 0;
  return DefWindowProc(hWnd, msg, wParam, lParam);
}

void RegisterOnce(const char* szClass, WNDPROC proc) {
  WNDCLASS wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = szClass;
  RegisterClass(&wc);  // already registered by an earlier application: kept
}

}  // namespace

LONG CPresDoc::IndexOf(const CSlideDoc* pSlide) const {
  for (std::size_t i = 0; i < slides.size(); ++i)
    if (slides[i].get() == pSlide) return static_cast<LONG>(i + 1);
  return 0;
}

PresentationContent CPresDoc::Content() const {
  PresentationContent c;
  c.design = design;
  c.tags = tags;
  for (const auto& s : slides) c.slides.push_back(s->content);
  return c;
}

void CPresDoc::SetContent(const PresentationContent& content,
                          const std::shared_ptr<CPresDoc>& self) {
  design = content.design;
  tags = content.tags;
  slides.clear();
  for (const SlideContent& s : content.slides) InsertSlide(slides.size(), s, self);
}

std::shared_ptr<CSlideDoc> CPresDoc::InsertSlide(std::size_t at, const SlideContent& content,
                                                 const std::shared_ptr<CPresDoc>& self) {
  auto slide = std::make_shared<CSlideDoc>();
  slide->content = content;
  slide->pres = self;
  slides.insert(slides.begin() + static_cast<std::ptrdiff_t>(std::min(at, slides.size())), slide);
  return slide;
}

CHostState::CHostState() {
  RegisterOnce(kFrameClass, FrameProc);
  RegisterOnce(kShowClass, ShowProc);
  hFrame = CreateWindowEx(0, kFrameClass, kCaption, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
}

CHostState::~CHostState() {
  for (const auto& show : shows) {
    show->fEnded = true;
    show->tracker.Release();
    if (show->hWnd != nullptr) DestroyWindow(show->hWnd);
  }
  if (hFrame != nullptr) DestroyWindow(hFrame);
}

std::shared_ptr<CHostState> CHostState::Current() { return g_state.lock(); }

std::shared_ptr<CHostState> CHostState::Create() {
  auto state = std::make_shared<CHostState>();
  g_state = state;
  return state;
}

std::shared_ptr<CPresDoc> CHostState::Active() const {
  for (auto it = m_activation.rbegin(); it != m_activation.rend(); ++it) {
    auto p = it->lock();
    if (p && !p->fClosed) return p;
  }
  return nullptr;
}

void CHostState::AddPresentation(const std::shared_ptr<CPresDoc>& pres) {
  presentations.push_back(pres);
  if (pres->fWindow) {
    m_activation.push_back(pres);
    UpdateFrameTitle();
  }
}

void CHostState::ClosePresentation(const std::shared_ptr<CPresDoc>& pres) {
  for (std::size_t i = 0; i < shows.size();) {
    if (shows[i]->pres == pres)
      EndShow(shows[i]);
    else
      ++i;
  }
  pres->fClosed = true;
  std::erase(presentations, pres);
  std::erase_if(m_activation, [&](const std::weak_ptr<CPresDoc>& w) {
    auto p = w.lock();
    return !p || p == pres;
  });
  UpdateFrameTitle();
}

std::shared_ptr<CShowDoc> CHostState::StartShow(const std::shared_ptr<CPresDoc>& pres) {
  auto show = std::make_shared<CShowDoc>();
  show->pres = pres;
  show->slide = pres->slides.front();
  show->nSerial = ++nShowSerial;
  std::string title = "PowerPoint Slide Show - [" + pres->name + "]";
  show->hWnd = CreateWindowEx(0, kShowClass, title.c_str(), WS_POPUP, 0, 0, 1024, 768, nullptr,
                              nullptr, nullptr, nullptr);
  shows.push_back(show);
  // Add-ins hear of it from the message loop, never from inside this call.
  if (hFrame != nullptr) PostMessage(hFrame, kMsgShowBegun, static_cast<WPARAM>(show->nSerial), 0);
  ViewChanged();
  return show;
}

void CHostState::EndShow(const std::shared_ptr<CShowDoc>& show) {
  if (show->fEnded) return;
  show->fEnded = true;
  show->lines.clear();
  com::CComPtr<MouseTracker> tracker = std::move(show->tracker);  // released after the show ended
  if (show->hWnd != nullptr) DestroyWindow(show->hWnd);
  show->hWnd = nullptr;
  std::erase(shows, show);
  ViewChanged();
}

void CHostState::SlideDeleted(const std::shared_ptr<CPresDoc>& pres, LONG nIndex) {
  std::vector<std::shared_ptr<CShowDoc>> ended;
  for (const auto& show : shows) {
    if (show->pres != pres || !show->slide->fDeleted) continue;
    if (pres->slides.empty()) {
      ended.push_back(show);
    } else {
      std::size_t at =
          std::min(static_cast<std::size_t>(std::max<LONG>(nIndex, 1)), pres->slides.size());
      show->slide = pres->slides[at - 1];
      show->nStep = 0;
      show->lines.clear();
    }
  }
  for (const auto& show : ended) EndShow(show);
  ViewChanged();
}

ShowMove CHostState::Next(const std::shared_ptr<CShowDoc>& show) {
  if (show->nStep < show->slide->content.nSteps) {
    ++show->nStep;
    ViewChanged();
    return ShowMove::kStep;
  }
  LONG index = show->pres->IndexOf(show->slide.get());
  if (index >= static_cast<LONG>(show->pres->slides.size())) {
    EndShow(show);
    return ShowMove::kEnded;
  }
  Goto(show, index + 1, true);
  return ShowMove::kSlide;
}

ShowMove CHostState::Previous(const std::shared_ptr<CShowDoc>& show) {
  if (show->nStep > 0) {
    --show->nStep;
    ViewChanged();
    return ShowMove::kStep;
  }
  LONG index = show->pres->IndexOf(show->slide.get());
  if (index <= 1) return ShowMove::kNone;
  Goto(show, index - 1, true);
  return ShowMove::kSlide;
}

HRESULT CHostState::Goto(const std::shared_ptr<CShowDoc>& show, LONG nIndex, bool fReset) {
  if (nIndex < 1 || nIndex > static_cast<LONG>(show->pres->slides.size())) return DISP_E_BADINDEX;
  auto target = show->pres->slides[static_cast<std::size_t>(nIndex - 1)];
  if (target != show->slide || fReset) {
    show->nStep = 0;
    show->lines.clear();  // pen drawing stays with the slide it was drawn on
  }
  show->slide = target;
  ViewChanged();
  return S_OK;
}

void CHostState::UpdateFrameTitle() {
  if (hFrame == nullptr) return;
  auto active = Active();
  std::string title = kCaption;
  if (active) title += " - [" + active->name + "]";
  SetWindowText(hFrame, title.c_str());
}

void CHostState::ViewChanged() {
  if (onViewChanged) onViewChanged();
}

}  // namespace host
