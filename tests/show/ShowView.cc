#include "tests/show/ShowView.h"

#include <cstdlib>
#include <regex>

namespace show {

std::string CView::Describe() const {
  if (fEnded) return "no show";
  if (sTitle.empty()) return "no slide yet";
  std::string s = "\"" + sTitle + "\" step " + std::to_string(nStep);
  if (sScreen != "running" && !sScreen.empty()) s += ", " + sScreen;
  if (nLines > 0) s += ", " + std::to_string(nLines) + " pen lines";
  return s;
}

// Powerpnt prints what its slide-show window shows as
//   show Talk.ppt slide 2/5 step 1/3 running lines 2 title "Agenda"
// or "no show"; the presentation's name and the slide's position differ
// between presenter and viewers and are not kept.
bool ApplyLine(const std::string& sLine, CView* pView) {
  static const std::regex kShow(
      R"re((?:^|\s)show .* slide \d+/\d+ step (\d+)/\d+ (\w+) lines (\d+) title "(.*)"\s*$)re");
  static const std::regex kNoShow(R"((?:^|\s)no show\s*$)");
  CView v = *pView;
  std::smatch m;
  if (std::regex_search(sLine, m, kShow)) {
    v.fEnded = false;
    v.nStep = static_cast<int>(std::strtol(m[1].str().c_str(), nullptr, 10));
    v.sScreen = m[2].str();
    v.nLines = static_cast<int>(std::strtol(m[3].str().c_str(), nullptr, 10));
    v.sTitle = m[4].str();
  } else if (std::regex_search(sLine, kNoShow)) {
    if (pView->sTitle.empty() && !pView->fEnded) return false;  // none has begun yet
    v = CView{};
    v.fEnded = true;
  } else {
    return false;
  }
  bool fChanged = !(v.SameAs(*pView) && v.sTitle == pView->sTitle);
  *pView = v;
  return fChanged;
}

}  // namespace show
