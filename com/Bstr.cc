#include "com/Bstr.h"

#include <cstdlib>
#include <cstring>

namespace {

// The prefix holds the byte length; the characters follow it.
constexpr std::size_t kPrefixBytes = sizeof(DWORD);
constexpr UINT kMaxChars = 0x7FFFFFF0u;
constexpr char32_t kReplacement = 0xFFFD;

DWORD* PrefixOf(BSTR bstr) {
  return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(bstr) - kPrefixBytes);
}

void AppendUtf8(std::string* pOut, char32_t c) {
  if (c < 0x80) {
    pOut->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    pOut->push_back(static_cast<char>(0xC0 | (c >> 6)));
    pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    pOut->push_back(static_cast<char>(0xE0 | (c >> 12)));
    pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    pOut->push_back(static_cast<char>(0xF0 | (c >> 18)));
    pOut->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point at s[*pi] and advances; malformed, overlong and
// surrogate encodings give U+FFFD and skip one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t* pi) {
  unsigned char b0 = static_cast<unsigned char>(s[*pi]);
  int n = b0 < 0x80 ? 0 : (b0 >> 5) == 0x6 ? 1 : (b0 >> 4) == 0xE ? 2 : (b0 >> 3) == 0x1E ? 3 : -1;
  if (n == 0) {
    ++*pi;
    return b0;
  }
  if (n < 0 || *pi + static_cast<std::size_t>(n) >= s.size()) {
    ++*pi;
    return kReplacement;
  }
  char32_t c = b0 & (0x3F >> n);
  for (int k = 1; k <= n; ++k) {
    unsigned char b = static_cast<unsigned char>(s[*pi + k]);
    if ((b & 0xC0) != 0x80) {
      ++*pi;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*pi;
    return kReplacement;
  }
  *pi += n + 1;
  return c;
}

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR pch, UINT cch) {
  if (cch > kMaxChars) return nullptr;
  std::size_t bytes = std::size_t{cch} * sizeof(OLECHAR);
  void* block = std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  *static_cast<DWORD*>(block) = static_cast<DWORD>(bytes);
  BSTR bstr = reinterpret_cast<BSTR>(static_cast<char*>(block) + kPrefixBytes);
  if (pch != nullptr) {
    std::memcpy(bstr, pch, bytes);
  } else {
    std::memset(bstr, 0, bytes);
  }
  bstr[cch] = u'\0';
  return bstr;
}

BSTR SysAllocString(LPCOLESTR psz) {
  if (psz == nullptr) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(std::char_traits<char16_t>::length(psz)));
}

void SysFreeString(BSTR bstr) {
  if (bstr != nullptr) std::free(PrefixOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : *PrefixOf(bstr); }

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

namespace com {

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = DecodeUtf8(utf8, &i);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

BSTR BstrFromUtf8(std::string_view utf8) {
  std::u16string s = Utf16FromUtf8(utf8);
  if (s.size() > kMaxChars) return nullptr;
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

std::string Utf8FromBstr(BSTR bstr) {
  if (bstr == nullptr) return std::string();
  return Utf8FromUtf16(std::u16string_view(bstr, SysStringLen(bstr)));
}

}  // namespace com
