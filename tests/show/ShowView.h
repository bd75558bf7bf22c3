// What one Powerpnt's slide-show window shows, as the show driver reads it
// from the program's printed lines, and how two views are compared.
#pragma once

#include <optional>
#include <string>

namespace show {

struct CView {
  std::string sTitle;   // the slide's title ("" before any slide is shown)
  int nStep = 0;        // animation steps shown
  std::string sScreen;  // "running", "black", "white"
  int nLines = 0;       // pen lines on the slide
  bool fEnded = false;  // the slide show has ended

  // Presenter and viewer number slides differently, so the title stands for
  // the slide.
  bool SameAs(const CView& o) const {
    return fEnded == o.fEnded &&
           (fEnded || (sTitle == o.sTitle && nStep == o.nStep && sScreen == o.sScreen &&
                       nLines == o.nLines));
  }
  std::string Describe() const;
};

// Folds one printed line into *pView; true when it changed what is shown.
bool ApplyLine(const std::string& sLine, CView* pView);

}  // namespace show
