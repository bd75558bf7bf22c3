#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "com/Bstr.h"
#include "com/ComError.h"
#include "com/Guid.h"
#include "com/Runtime.h"
#include "com/Variant.h"

namespace {

TEST(GuidTest, ParsesAndFormatsTheBracedForm) {
  constexpr GUID g = com::MakeGuid("{b29546a9-5422-11D3-A3CE-00A0C9AF07ED}");
  EXPECT_EQ(g.Data1, 0xB29546A9u);
  EXPECT_EQ(g.Data2, 0x5422);
  EXPECT_EQ(g.Data3, 0x11D3);
  EXPECT_EQ(g.Data4[0], 0xA3);
  EXPECT_EQ(g.Data4[7], 0xED);
  EXPECT_EQ(com::FormatGuid(g), "{B29546A9-5422-11D3-A3CE-00A0C9AF07ED}");
  for (const char* bad : {"", "B29546A9-5422-11D3-A3CE-00A0C9AF07ED",
                          "{B29546A9-5422-11D3-A3CE-00A0C9AF07E}", "{B29546A9-5422-11D3-A3CE-00A0C9AF07EG}",
                          "{B29546A9+5422-11D3-A3CE-00A0C9AF07ED}", "{B29546A9-5422-11D3-A3CE-00A0C9AF07ED}x"}) {
    GUID out = GUID_NULL;
    EXPECT_FALSE(com::ParseGuid(bad, &out)) << bad;
    EXPECT_EQ(out, GUID_NULL);
  }
  OLECHAR wide[39];
  ASSERT_EQ(StringFromGUID2(g, wide, 39), 39);
  EXPECT_EQ(StringFromGUID2(g, wide, 38), 0);
  CLSID back{};
  EXPECT_EQ(CLSIDFromString(wide, &back), S_OK);
  EXPECT_EQ(back, g);
  EXPECT_EQ(CLSIDFromString(u"Orvalo.orvaloSnd", &back), CO_E_CLASSSTRING);
}

TEST(BstrTest, KeepsLengthPrefixAndEmbeddedNuls) {
  const char16_t text[] = {u'a', u'\0', u'b'};
  BSTR b = SysAllocStringLen(text, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u);  // byte count just before the characters
  EXPECT_EQ(b[3], u'\0');
  EXPECT_EQ(com::Utf8FromBstr(b), std::string("a\0b", 3));
  SysFreeString(b);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(com::Utf8FromBstr(nullptr), "");
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(BstrTest, ConvertsUtf8BothWays) {
  struct Case { std::string utf8; std::u16string utf16; std::string back; };
  const Case cases[] = {
      {"plain", u"plain", "plain"},
      {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", u"Grüße €", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600", "\xF0\x9F\x98\x80"},  // a surrogate pair
      {std::string("x\0y", 3), std::u16string(u"x\0y", 3), std::string("x\0y", 3)},
      // Malformed input: a lone continuation byte, a cut sequence, an overlong form.
      {"a\x80z", u"a\uFFFDz", "a\xEF\xBF\xBDz"},
      {"a\xE2\x82", u"a\uFFFD\uFFFD", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    com::CComBSTR b(c.utf8);
    ASSERT_EQ(b.Length(), c.utf16.size()) << c.utf8;
    EXPECT_EQ(std::u16string(b.get(), b.Length()), c.utf16);
    EXPECT_EQ(b.ToUtf8(), c.back);
  }
  // An unpaired surrogate from the UTF-16 side.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(com::Utf8FromUtf16(lone), "a\xEF\xBF\xBD" "b");
  com::CComBSTR copy = com::CComBSTR("\xC3\xA9t\xC3\xA9");
  com::CComBSTR other(copy);
  EXPECT_EQ(other.ToUtf8(), "\xC3\xA9t\xC3\xA9");
  EXPECT_NE(other.get(), copy.get());
}

TEST(VariantTest, ChangeTypeConvertsAndRefuses) {
  struct Case { com::CComVariant from; VARTYPE to; HRESULT hr; com::CComVariant want; };
  SHORT i2 = 7;
  LONG byref = 41;
  com::CComVariant small;
  small.vt = VT_I2;
  small.iVal = i2;
  com::CComVariant ref = com::CComVariant::ByRef(&byref);
  const Case cases[] = {
      {small, VT_I4, S_OK, LONG{7}},
      {ref, VT_I4, S_OK, LONG{41}},
      {2.5, VT_I4, S_OK, LONG{2}},  // half to even
      {3.5, VT_I4, S_OK, LONG{4}},
      {"  42 ", VT_I4, S_OK, LONG{42}},
      {"-3", VT_R4, S_OK, -3.0f},
      {"x", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {3e9, VT_I4, DISP_E_OVERFLOW, {}},
      {"99999999999", VT_I4, DISP_E_OVERFLOW, {}},
      {true, VT_I4, S_OK, LONG{-1}},
      {LONG{0}, VT_BOOL, S_OK, false},
      {"True", VT_BOOL, S_OK, true},
      {LONG{42}, VT_BSTR, S_OK, "42"},
      {true, VT_BSTR, S_OK, "True"},
      {com::CComVariant(), VT_BSTR, S_OK, ""},
      {com::CComVariant(), VT_I4, S_OK, LONG{0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from vt " << c.from.vt << " to " << c.to);
    com::CComVariant out;
    ASSERT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.hr);
    if (FAILED(c.hr)) {
      EXPECT_EQ(out.vt, VT_EMPTY);
      continue;
    }
    ASSERT_EQ(out.vt, c.want.vt);
    switch (out.vt) {
      case VT_I4: EXPECT_EQ(out.lVal, c.want.lVal); break;
      case VT_R4: EXPECT_EQ(out.fltVal, c.want.fltVal); break;
      case VT_BOOL: EXPECT_EQ(out.boolVal, c.want.boolVal); break;
      case VT_BSTR: EXPECT_EQ(com::Utf8FromBstr(out.bstrVal), com::Utf8FromBstr(c.want.bstrVal)); break;
      default: ADD_FAILURE() << "unexpected vt";
    }
  }
  // In place, a BSTR becomes a number and its string is freed (ASan checks).
  com::CComVariant v("12");
  EXPECT_EQ(v.ChangeType(VT_I4), S_OK);
  EXPECT_EQ(v.lVal, 12);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&v, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(VariantTest, CopyDuplicatesStringsAndClearFreesThem) {
  com::CComVariant a("text");
  VARIANT b;
  VariantInit(&b);
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(com::Utf8FromBstr(b.bstrVal), "text");
  EXPECT_EQ(VariantClear(&b), S_OK);
  EXPECT_EQ(b.vt, VT_EMPTY);
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x2000 | VT_I4;  // an array: not modelled
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(ComErrorTest, CarriesTheFailedResult) {
  EXPECT_EQ(com::ThrowIfFailed(S_FALSE), S_FALSE);
  try {
    com::ThrowIfFailed(HRESULT_FROM_WIN32(ERROR_NOT_INITIALIZED));
    FAIL() << "no throw";
  } catch (const com::CComError& e) {
    EXPECT_EQ(static_cast<DWORD>(e.Error()), 0x800704D9u);
    EXPECT_STREQ(e.what(), "HRESULT 0x800704D9");
  }
}

}  // namespace
