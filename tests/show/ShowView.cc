#include "tests/show/ShowView.h"

#include <cstdio>

namespace show {

std::string CView::Describe() const {
  if (fEnded) return "show ended";
  if (sTitle.empty()) return "no slide yet";
  std::string s = "\"" + sTitle + "\" step " + std::to_string(nStep);
  if (sScreen != "running" && !sScreen.empty()) s += ", " + sScreen;
  if (nLines > 0) s += ", " + std::to_string(nLines) + " pen lines";
  return s;
}

bool ApplyLine(const std::string& sLine, CView* pView) {
  (void)sLine;
  (void)pView;
  return false;
}

}  // namespace show
