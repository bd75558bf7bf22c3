#include "host/PresentationFile.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "platform/File.h"

namespace host {
namespace {

constexpr std::string_view kMagic = "ORVALO-PRESENTATION 1";

std::uint32_t Crc32(std::string_view data) {
  static const std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : data) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void AppendEscaped(std::string* out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        *out += "\\\\";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        out->push_back(c);
    }
  }
}

bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      default:
        return false;
    }
  }
  return true;
}

// Reads the lines of the body, each a keyword, a space and a value.
class CLineReader {
 public:
  explicit CLineReader(std::string_view text) : m_text(text) {}

  // The value of the next line, which must begin with `key` and a space.
  bool Next(std::string_view key, std::string_view* pValue) {
    if (m_pos >= m_text.size()) return false;
    std::size_t end = m_text.find('\n', m_pos);
    if (end == std::string_view::npos) return false;
    std::string_view line = m_text.substr(m_pos, end - m_pos);
    m_pos = end + 1;
    if (line.size() < key.size() + 1 || line.substr(0, key.size()) != key ||
        line[key.size()] != ' ')
      return false;
    *pValue = line.substr(key.size() + 1);
    return true;
  }
  bool Text(std::string_view key, std::string* pOut) {
    std::string_view v;
    return Next(key, &v) && Unescape(v, pOut);
  }
  bool Number(std::string_view key, long long lo, long long hi, long long* pn) {
    std::string_view v;
    if (!Next(key, &v) || v.empty()) return false;
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), *pn);
    return ec == std::errc() && p == v.data() + v.size() && *pn >= lo && *pn <= hi;
  }
  bool AtEnd() const { return m_pos == m_text.size(); }

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
};

bool ParseBody(std::string_view body, PresentationContent* p) {
  CLineReader r(body);
  std::string_view magic;
  if (body.substr(0, kMagic.size() + 1) != std::string(kMagic) + "\n") return false;
  r.Next("ORVALO-PRESENTATION", &magic);
  if (!r.Text("design", &p->design)) return false;
  long long n = 0;
  if (!r.Number("tags", 0, kMaxTags, &n)) return false;
  for (long long i = 0; i < n; ++i) {
    std::pair<std::string, std::string> tag;
    if (!r.Text("name", &tag.first) || !r.Text("value", &tag.second)) return false;
    p->tags.push_back(std::move(tag));
  }
  if (!r.Number("slides", 0, kMaxSlides, &n)) return false;
  for (long long i = 0; i < n; ++i) {
    SlideContent s;
    long long layout = 0, steps = 0, hasTitle = 0;
    if (!r.Number("layout", 1, 1000, &layout) || !r.Number("steps", 0, kMaxSteps, &steps) ||
        !r.Number("hastitle", 0, 1, &hasTitle) || !r.Text("title", &s.title) ||
        !r.Text("body", &s.body))
      return false;
    s.nLayout = static_cast<LONG>(layout);
    s.nSteps = static_cast<LONG>(steps);
    s.fHasTitle = hasTitle != 0;
    p->slides.push_back(std::move(s));
  }
  return r.AtEnd();
}

}  // namespace

std::string FormatPresentation(const PresentationContent& c) {
  std::string out;
  out += kMagic;
  out += "\ndesign ";
  AppendEscaped(&out, c.design);
  out += "\ntags " + std::to_string(c.tags.size()) + "\n";
  for (const auto& [name, value] : c.tags) {
    out += "name ";
    AppendEscaped(&out, name);
    out += "\nvalue ";
    AppendEscaped(&out, value);
    out += "\n";
  }
  out += "slides " + std::to_string(c.slides.size()) + "\n";
  for (const SlideContent& s : c.slides) {
    out += "layout " + std::to_string(s.nLayout) + "\nsteps " + std::to_string(s.nSteps) +
           "\nhastitle " + (s.fHasTitle ? "1" : "0") + "\ntitle ";
    AppendEscaped(&out, s.title);
    out += "\nbody ";
    AppendEscaped(&out, s.body);
    out += "\n";
  }
  return SealPresentationBody(out);
}

std::string SealPresentationBody(std::string_view body) {
  char trailer[64];
  std::snprintf(trailer, sizeof trailer, "end %zu %08x\n", body.size(),
                static_cast<unsigned>(Crc32(body)));
  return std::string(body) + trailer;
}

DWORD ParsePresentation(std::string_view text, PresentationContent* pContent) {
  if (text.size() > kMaxPresentationFileBytes || text.empty() || text.back() != '\n')
    return ERROR_FILE_CORRUPT;
  std::size_t at = text.rfind('\n', text.size() - 2);
  if (at == std::string_view::npos) return ERROR_FILE_CORRUPT;
  std::string_view body = text.substr(0, at + 1);
  std::string_view trailer = text.substr(at + 1, text.size() - at - 2);
  unsigned long long size = 0;
  unsigned crc = 0;
  char tail = 0;
  std::string t(trailer);
  if (std::sscanf(t.c_str(), "end %llu %8x%c", &size, &crc, &tail) != 2 || size != body.size() ||
      crc != Crc32(body) || t != "end " + std::to_string(size) + " " + [&] {
        char h[16];
        std::snprintf(h, sizeof h, "%08x", crc);
        return std::string(h);
      }())
    return ERROR_FILE_CORRUPT;
  PresentationContent parsed;
  parsed.design.clear();
  if (!ParseBody(body, &parsed)) return ERROR_FILE_CORRUPT;
  *pContent = std::move(parsed);
  return 0;
}

DWORD ReadPresentationFile(const std::string& path, PresentationContent* pContent) {
  if (platform::DirectoryExists(path)) return ERROR_ACCESS_DENIED;
  std::uint64_t size = 0;
  DWORD err = platform::GetFileSize(path, &size);
  if (err != 0) return err;
  if (size > kMaxPresentationFileBytes) return ERROR_FILE_CORRUPT;
  std::string text;
  err = platform::ReadWholeFile(path, &text);
  if (err != 0) return err;
  return ParsePresentation(text, pContent);
}

DWORD WritePresentationFile(const std::string& path, const PresentationContent& content) {
  const std::string text = FormatPresentation(content);
  std::string temp;
  DWORD err = platform::CreateTempFile(platform::DirName(path), ".ppt-", &temp);
  if (err != 0) return err;
  err = platform::WriteWholeFile(temp, text.data(), text.size());
  if (err == 0) err = platform::MoveFile(temp, path, true);
  if (err != 0) platform::DeleteFile(temp);
  return err;
}

}  // namespace host
