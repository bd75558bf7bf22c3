// BSTR: the runtime's string, UTF-16 with a 32-bit byte-length prefix just
// before the characters and a NUL after them, as on the original platform.
// Its length comes from the prefix, so it may hold NULs. A null BSTR is an
// empty string. Text elsewhere in the system is UTF-8; the conversions here
// are real ones: invalid UTF-8 and unpaired surrogates become U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "platform/Win32Types.h"

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

// A new BSTR holding the NUL-terminated `psz` (null: returns null). Null when
// out of memory.
BSTR SysAllocString(LPCOLESTR psz);
// A new BSTR of `cch` characters copied from `pch` (null: zeros).
BSTR SysAllocStringLen(LPCOLESTR pch, UINT cch);
void SysFreeString(BSTR bstr);
// Characters and bytes of the string, not counting the final NUL.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

namespace com {

std::u16string Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::u16string_view utf16);

// A new BSTR with the UTF-16 form of `utf8` (embedded NULs kept); the caller
// frees it. Null when out of memory.
BSTR BstrFromUtf8(std::string_view utf8);
// The UTF-8 form of all SysStringLen(bstr) characters.
std::string Utf8FromBstr(BSTR bstr);

// An owned BSTR, freed on destruction; copies copy the string.
class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(std::string_view utf8) : m_str(BstrFromUtf8(utf8)) {}
  explicit CComBSTR(LPCOLESTR psz) : m_str(SysAllocString(psz)) {}
  CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
  CComBSTR(CComBSTR&& other) noexcept : m_str(other.Detach()) {}
  CComBSTR& operator=(const CComBSTR& other) {
    if (this != &other) Attach(other.Copy());
    return *this;
  }
  CComBSTR& operator=(CComBSTR&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  ~CComBSTR() { SysFreeString(m_str); }

  BSTR get() const { return m_str; }
  operator BSTR() const { return m_str; }
  UINT Length() const { return SysStringLen(m_str); }
  std::string ToUtf8() const { return Utf8FromBstr(m_str); }
  // A new copy for the caller to free.
  BSTR Copy() const { return m_str == nullptr ? nullptr : SysAllocStringLen(m_str, Length()); }
  // Frees the string held and takes `bstr`.
  void Attach(BSTR bstr) {
    SysFreeString(m_str);
    m_str = bstr;
  }
  BSTR Detach() {
    BSTR b = m_str;
    m_str = nullptr;
    return b;
  }
  // For [out] BSTR* arguments: frees the string held and gives its slot.
  BSTR* Out() {
    Attach(nullptr);
    return &m_str;
  }

 private:
  BSTR m_str = nullptr;
};

}  // namespace com
