// The host's seam: what the frontmost slide show shows, and the user's
// actions on it, as the standard-input commands give them.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/AddinHost.h"
#include "host/HostApplication.h"
#include "host/Objects.h"

namespace host {
namespace {

bool g_fQuit = false;  // main thread only

std::shared_ptr<CShowDoc> Frontmost(const std::shared_ptr<CHostState>& state) {
  if (!state || state->shows.empty()) return nullptr;
  return state->shows.back();
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool ParseFloat(std::string_view s, float* pf) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *pf);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(*pf) &&
         std::fabs(*pf) < 1e6f;
}

bool ParsePoint(std::string_view s, PenPoint* pPoint) {
  std::size_t comma = s.find(',');
  return comma != std::string_view::npos && ParseFloat(s.substr(0, comma), &pPoint->x) &&
         ParseFloat(s.substr(comma + 1), &pPoint->y);
}

const char* ScreenWord(PpSlideShowState state) {
  switch (state) {
    case ppSlideShowBlackScreen:
      return "black";
    case ppSlideShowPaused:
    case ppSlideShowWhiteScreen:
      return "white";
    case ppSlideShowDone:
      return "done";
    default:
      return "running";
  }
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\')
      out.push_back('\\'), out.push_back(c);
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out.push_back(c);
  }
  return out + "\"";
}

// Feeds one stroke to the tracker, or draws it itself.
void Stroke(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CShowDoc>& show,
            const std::vector<PenPoint>& points) {
  com::CComPtr<MouseTracker> tracker = show->tracker;
  if (tracker) {
    for (const PenPoint& p : points) {
      if (show->fEnded) return;
      tracker->OnTrack(p.x, p.y);
    }
    if (!show->fEnded) tracker->EndTrack(points.back().x, points.back().y);
    return;
  }
  for (std::size_t i = 1; i < points.size() && show->lines.size() < CHostState::kMaxLines; ++i) {
    show->lines.push_back(
        PenLine{points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, show->penRgb});
  }
  if (points.size() > 1) state->ViewChanged();
}

}  // namespace

HRESULT LoadAddin(const std::string& path) { return CAddinHost::Instance().Load(path); }
void AttachAddin(IHostAddin* pAddin) { CAddinHost::Instance().Attach(pAddin); }
bool IsAddinLoaded(const std::string& path) { return CAddinHost::Instance().IsLoaded(path); }

void StartAddins() {
  com::CComPtr<_Application> app;
  if (FAILED(CreateApplication(app.Out()))) return;
  CAddinHost::Instance().FireStartup(app.get());
}

void ShutdownAddins() { CAddinHost::Instance().Shutdown(); }

ShowView GetShowView() {
  ShowView v;
  auto show = Frontmost(CHostState::Current());
  if (!show) return v;
  v.fShowing = true;
  v.presentation = show->pres->name;
  v.nSlide = show->pres->IndexOf(show->slide.get());
  v.nSlides = static_cast<LONG>(show->pres->slides.size());
  v.title = show->slide->content.title;
  v.body = show->slide->content.body;
  v.nStep = show->nStep;
  v.nSteps = show->slide->content.nSteps;
  v.state = show->state;
  v.pointer = show->pointer;
  v.penRgb = show->penRgb;
  v.fAccelerators = show->fAccelerators;
  for (const PenLine& l : show->lines) v.lines.push_back(ShownLine{l.x1, l.y1, l.x2, l.y2, l.rgb});
  return v;
}

std::string DescribeShowView(const ShowView& v) {
  if (!v.fShowing) return "no show";
  return "show " + v.presentation + " slide " + std::to_string(v.nSlide) + "/" +
         std::to_string(v.nSlides) + " step " + std::to_string(v.nStep) + "/" +
         std::to_string(v.nSteps) + " " + ScreenWord(v.state) + " lines " +
         std::to_string(v.lines.size()) + " title " + Quoted(v.title);
}

void SetViewChangeHandler(std::function<void()> handler) {
  if (auto state = CHostState::Current()) state->onViewChanged = std::move(handler);
}

bool ParseUserCommand(std::string_view line, UserCommand* pCmd, std::string* pError) {
  auto fail = [&](std::string why) {
    if (pError != nullptr) *pError = std::move(why);
    return false;
  };
  std::vector<std::string_view> words = Words(line);
  if (words.empty()) return fail("empty command");
  const std::string verb = Lower(words[0]);
  UserCommand cmd;
  struct Plain {
    const char* word;
    UserAction action;
  };
  static constexpr Plain kPlain[] = {
      {"next", UserAction::kNext},         {"n", UserAction::kNext},
      {"previous", UserAction::kPrevious}, {"prev", UserAction::kPrevious},
      {"p", UserAction::kPrevious},        {"black", UserAction::kBlack},
      {"white", UserAction::kWhite},       {"resume", UserAction::kResume},
      {"erase", UserAction::kErase},       {"start", UserAction::kStart},
      {"end", UserAction::kEnd},           {"quit", UserAction::kQuit},
  };
  for (const Plain& p : kPlain) {
    if (verb == p.word) {
      if (words.size() != 1) return fail(verb + " takes no arguments");
      cmd.action = p.action;
      *pCmd = std::move(cmd);
      return true;
    }
  }
  if (verb == "goto") {
    if (words.size() != 2) return fail("usage: goto N");
    long long n = 0;
    auto [p, ec] = std::from_chars(words[1].data(), words[1].data() + words[1].size(), n);
    if (ec != std::errc() || p != words[1].data() + words[1].size() || n < 1 || n > 0x7FFFFFFF)
      return fail("goto needs a slide number from 1");
    cmd.action = UserAction::kGoto;
    cmd.nSlide = static_cast<LONG>(n);
    *pCmd = std::move(cmd);
    return true;
  }
  if (verb == "pen") {
    if (words.size() < 2) return fail("usage: pen X,Y [X,Y ...]");
    if (words.size() - 1 > kMaxPenPoints) return fail("too many points");
    cmd.action = UserAction::kPen;
    for (std::size_t i = 1; i < words.size(); ++i) {
      PenPoint pt{};
      if (!ParsePoint(words[i], &pt)) return fail("bad point: " + std::string(words[i]));
      cmd.points.push_back(pt);
    }
    *pCmd = std::move(cmd);
    return true;
  }
  return fail("unknown command: " + std::string(words[0]));
}

HRESULT PerformUserAction(const UserCommand& cmd) {
  if (cmd.action == UserAction::kQuit) {
    g_fQuit = true;
    return S_OK;
  }
  auto state = CHostState::Current();
  if (!state) return E_FAIL;
  CAddinHost& addins = CAddinHost::Instance();
  if (cmd.action == UserAction::kStart) {
    auto pres = state->Active();
    if (!pres || pres->slides.empty()) return E_FAIL;
    for (const auto& show : state->shows)
      if (show->pres == pres) return E_FAIL;
    auto show = state->StartShow(pres);
    addins.FireShowBegin(state, show);
    show->fBeginTold = true;
    return S_OK;
  }
  auto show = Frontmost(state);
  if (!show) return E_FAIL;
  auto pres = show->pres;
  switch (cmd.action) {
    case UserAction::kEnd:
      state->EndShow(show);
      addins.FireEnd(state, pres);
      return S_OK;
    case UserAction::kPen:
      if (cmd.points.empty()) return E_INVALIDARG;
      Stroke(state, show, cmd.points);
      return S_OK;
    default:
      break;
  }
  if (!show->fAccelerators) return S_FALSE;
  switch (cmd.action) {
    case UserAction::kNext:
    case UserAction::kPrevious: {
      ShowMove move = cmd.action == UserAction::kNext ? state->Next(show) : state->Previous(show);
      if (move == ShowMove::kStep)
        addins.FireStep(state, show, cmd.action == UserAction::kNext ? 1 : -1);
      else if (move == ShowMove::kSlide)
        addins.FireNextSlide(state, show);
      else if (move == ShowMove::kEnded)
        addins.FireEnd(state, pres);
      return move == ShowMove::kNone ? S_FALSE : S_OK;
    }
    case UserAction::kGoto: {
      HRESULT hr = state->Goto(show, cmd.nSlide, true);
      if (SUCCEEDED(hr)) addins.FireNextSlide(state, show);
      return hr;
    }
    case UserAction::kBlack:
    case UserAction::kWhite:
    case UserAction::kResume: {
      PpSlideShowState to = cmd.action == UserAction::kBlack   ? ppSlideShowBlackScreen
                            : cmd.action == UserAction::kWhite ? ppSlideShowPaused
                                                               : ppSlideShowRunning;
      if (show->state == to) return S_FALSE;
      show->state = to;
      state->ViewChanged();
      addins.FireScreen(state, show, to);
      return S_OK;
    }
    case UserAction::kErase:
      show->lines.clear();
      state->ViewChanged();
      addins.FireErase(state, show);
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

bool IsQuitRequested() { return g_fQuit; }

}  // namespace host
