#include "orvalo/OAHelpers.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/Tick.h"

namespace orvalo {
namespace {

// Set by the control that starts the show, read by the presenter's state
// stamps; atomic, so any thread may read it.
std::atomic<DWORD> g_dwStartTick{0};

// A BSTR-shaped buffer: the byte-length prefix right before the characters.
struct WideBuffer {
  alignas(sizeof(DWORD)) DWORD cbPrefix = 0;
  OLECHAR wsz[kConvertBufferBytes] = {};
};
static_assert(offsetof(WideBuffer, wsz) == sizeof(DWORD));

// Utf8 cut to fewer than kConvertBufferBytes bytes without splitting a
// character.
std::string_view CutText(const char* szAnsi) {
  if (szAnsi == nullptr) return {};
  std::size_t n = strnlen(szAnsi, kConvertBufferBytes);
  if (n < kConvertBufferBytes) return {szAnsi, n};
  n = kConvertBufferBytes - 1;
  while (n > 0 && (static_cast<unsigned char>(szAnsi[n]) & 0xC0) == 0x80) --n;
  return {szAnsi, n};
}

BSTR Convert(const char* szAnsi, WideBuffer* pBuffer) {
  // UTF-16 never needs more units than the UTF-8 text has bytes.
  const std::u16string wide = com::Utf16FromUtf8(CutText(szAnsi));
  std::memcpy(pBuffer->wsz, wide.data(), wide.size() * sizeof(OLECHAR));
  pBuffer->wsz[wide.size()] = u'\0';
  pBuffer->cbPrefix = static_cast<DWORD>(wide.size() * sizeof(OLECHAR));
  return pBuffer->wsz;
}

}  // namespace

void TickStart() { g_dwStartTick.store(GetTickCount()); }

DWORD TickElapsedMs() { return GetTickCount() - g_dwStartTick.load(); }

BSTR AnsiToWide(const char* szAnsi) {
  thread_local WideBuffer s_buffer;
  return Convert(szAnsi, &s_buffer);
}

BSTR AnsiToWide2(const char* szAnsi) {
  thread_local WideBuffer s_buffer;
  return Convert(szAnsi, &s_buffer);
}

const char* WideToAnsi(BSTR bstr) {
  thread_local std::string s_text;
  s_text = com::Utf8FromBstr(bstr);
  return s_text.c_str();
}

}  // namespace orvalo
