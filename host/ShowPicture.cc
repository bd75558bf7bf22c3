#include "host/ShowPicture.h"

#include <cstdio>

#include "platform/File.h"

namespace host {
namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out.push_back(c);
    }
  }
  return out;
}

std::string Colour(LONG rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<unsigned>(rgb & 0xFF),
                static_cast<unsigned>((rgb >> 8) & 0xFF),
                static_cast<unsigned>((rgb >> 16) & 0xFF));
  return buf;
}

std::string Number(float f) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(f));
  return buf;
}

}  // namespace

std::string ShowPictureSvg(const ShowView& v) {
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kShowWidth) + "\" height=\"" + std::to_string(kShowHeight) +
                    "\" viewBox=\"0 0 " + std::to_string(kShowWidth) + " " +
                    std::to_string(kShowHeight) + "\">\n";
  if (!v.fShowing) {
    svg +=
        "<rect width=\"100%\" height=\"100%\" fill=\"#404040\"/>\n"
        "<text x=\"512\" y=\"384\" text-anchor=\"middle\" font-family=\"sans-serif\" "
        "font-size=\"28\" fill=\"#ffffff\">no show</text>\n</svg>\n";
    return svg;
  }
  const bool fBlack = v.state == ppSlideShowBlackScreen;
  const bool fWhite = v.state == ppSlideShowPaused || v.state == ppSlideShowWhiteScreen;
  svg += std::string("<rect width=\"100%\" height=\"100%\" fill=\"") +
         (fBlack ? "#000000" : "#ffffff") + "\"/>\n";
  if (!fBlack && !fWhite) {
    svg +=
        "<text x=\"512\" y=\"110\" text-anchor=\"middle\" font-family=\"sans-serif\" "
        "font-size=\"44\" font-weight=\"bold\" fill=\"#1f3864\">" +
        Escaped(v.title) + "</text>\n";
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= v.body.size() && !v.body.empty()) {
      std::size_t end = v.body.find('\n', start);
      if (end == std::string::npos) end = v.body.size();
      lines.push_back(v.body.substr(start, end - start));
      start = end + 1;
    }
    std::size_t shown = lines.size();
    if (v.nSteps > 0) {
      shown = v.nStep >= v.nSteps ? lines.size()
                                  : std::min(lines.size(), static_cast<std::size_t>(v.nStep));
    }
    for (std::size_t i = 0; i < shown && i < 20; ++i) {
      svg += "<text x=\"120\" y=\"" + std::to_string(200 + 48 * static_cast<int>(i)) +
             "\" font-family=\"sans-serif\" font-size=\"30\" fill=\"#202020\">&#8226; " +
             Escaped(lines[i]) + "</text>\n";
    }
    svg +=
        "<text x=\"1000\" y=\"750\" text-anchor=\"end\" font-family=\"sans-serif\" "
        "font-size=\"16\" fill=\"#808080\">slide " +
        std::to_string(v.nSlide) + "/" + std::to_string(v.nSlides) + ", step " +
        std::to_string(v.nStep) + "/" + std::to_string(v.nSteps) + "</text>\n";
  }
  for (const ShownLine& l : v.lines) {
    svg += "<line x1=\"" + Number(l.x1) + "\" y1=\"" + Number(l.y1) + "\" x2=\"" + Number(l.x2) +
           "\" y2=\"" + Number(l.y2) + "\" stroke=\"" + Colour(l.rgb) +
           "\" stroke-width=\"3\" stroke-linecap=\"round\"/>\n";
  }
  return svg + "</svg>\n";
}

DWORD WriteShowPicture(const std::string& path, const ShowView& view) {
  const std::string svg = ShowPictureSvg(view);
  std::string temp;
  DWORD err = platform::CreateTempFile(platform::DirName(path), ".svg-", &temp);
  if (err != 0) return err;
  err = platform::WriteWholeFile(temp, svg.data(), svg.size());
  if (err == 0) err = platform::MoveFile(temp, path, true);
  if (err != 0) platform::DeleteFile(temp);
  return err;
}

}  // namespace host
