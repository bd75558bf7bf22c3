// The presentation file: what a presentation holds and its form on disk.
//
// A file is UTF-8 text: a header line, the design, the tags, the slides
// (layout, animation steps, title and body), and a trailer with the count of
// bytes before it and their CRC-32, so that a truncated or altered file is
// refused. Texts are escaped (\\, \n, \t, \r), one per line.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Win32Types.h"

namespace host {

// One slide: its layout, title placeholder and text, body text and number of
// animation steps (the show moves through steps 0 .. nSteps).
struct SlideContent {
  LONG nLayout = 2;
  bool fHasTitle = true;
  std::string title;
  std::string body;
  LONG nSteps = 0;

  bool operator==(const SlideContent&) const = default;
};

struct PresentationContent {
  std::string design = "Default Design";
  std::vector<std::pair<std::string, std::string>> tags;  // in the order added
  std::vector<SlideContent> slides;

  bool operator==(const PresentationContent&) const = default;
};

// Limits of what a file may hold; a file beyond them is refused as corrupt.
inline constexpr std::size_t kMaxPresentationFileBytes = 64u << 20;
inline constexpr std::size_t kMaxSlides = 10000;
inline constexpr std::size_t kMaxTags = 10000;
inline constexpr LONG kMaxSteps = 1000;

std::string FormatPresentation(const PresentationContent& content);
// The body followed by its trailer: what FormatPresentation ends with.
std::string SealPresentationBody(std::string_view body);
// 0, or ERROR_FILE_CORRUPT (1392) for anything but a whole, well-formed file;
// *pContent is untouched on failure.
DWORD ParsePresentation(std::string_view text, PresentationContent* pContent);

// 0, a Win32 code from the file system (2 for a missing file), or 1392.
DWORD ReadPresentationFile(const std::string& path, PresentationContent* pContent);
// Writes to a temporary file beside `path`, then renames it into place.
DWORD WritePresentationFile(const std::string& path, const PresentationContent& content);

}  // namespace host
