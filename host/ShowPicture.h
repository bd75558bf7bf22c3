// A picture of what a slide-show window shows, as SVG: the slide's title and
// body (on an animated slide, the body lines its steps have shown so far), a
// black or white screen, and the pen lines in their colours.
#pragma once

#include <string>

#include "host/HostApplication.h"

namespace host {

inline constexpr int kShowWidth = 1024;
inline constexpr int kShowHeight = 768;

// The body lines shown at a step: all of them on a slide without steps;
// else the first nStep lines (one line per step, the rest follows the last).
std::string ShowPictureSvg(const ShowView& view);

// Rewrites `path` with the picture (through a temporary file beside it).
DWORD WriteShowPicture(const std::string& path, const ShowView& view);

}  // namespace host
