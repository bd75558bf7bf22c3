// Text that reaches the runtime from the registry or a caller: UTF-8 and
// UTF-16 conversion, GUID parsing and text-to-number conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "com/Bstr.h"
#include "com/Guid.h"
#include "com/Variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  // UTF-8 -> BSTR -> UTF-8 gives valid UTF-8 that converts back unchanged.
  com::CComBSTR b(text);
  std::string once = b.ToUtf8();
  if (com::CComBSTR(once).ToUtf8() != once) std::abort();
  // The same bytes read as UTF-16.
  std::u16string wide(reinterpret_cast<const char16_t*>(data), size / 2);
  std::string fromWide = com::Utf8FromUtf16(wide);
  if (com::Utf8FromUtf16(com::Utf16FromUtf8(fromWide)) != fromWide) std::abort();
  GUID g{};
  if (com::ParseGuid(text, &g)) {
    GUID again{};
    if (!com::ParseGuid(com::FormatGuid(g), &again) || !(again == g)) std::abort();
  }
  com::CComVariant v{std::string_view(text)};
  for (VARTYPE vt : {VT_I4, VT_R4, VT_R8, VT_BOOL, VT_UI1, VT_I2}) {
    com::CComVariant out;
    VariantChangeType(&out, &v, 0, vt);
  }
  return 0;
}
