// The seam through which a received slide file is inserted into the
// audience's presentation (the automation object's AddSlideFromFile).
// Set once at start-up and used only on the presentation's thread.
#pragma once

#include <functional>

#include "platform/Win32Types.h"

namespace orvalo {

// Inserts the slide file szFile as slide dwSlide; returns 0 on success, else
// the automation object's failure code.
using SlideInserter = std::function<DWORD(const char* szFile, DWORD dwSlide)>;

// Installs `inserter` (empty: none) and returns the previous one.
SlideInserter SetSlideInserter(SlideInserter inserter);
// Calls the installed inserter; 5 (insertion failed) when there is none.
DWORD InsertSlideFromFile(const char* szFile, DWORD dwSlide);

}  // namespace orvalo
