#include <gtest/gtest.h>

#include <string>

#include "orvalo/OAHelpers.h"
#include "platform/Tick.h"

namespace {

TEST(OAHelpersTest, ElapsedAcrossTheTickWrap) {
  platform::FakeTickClock::Install(0xFFFFFFF0u);
  orvalo::TickStart();
  platform::FakeTickClock::Set(0x00000010u);
  EXPECT_EQ(orvalo::TickElapsedMs(), 32u);
  platform::FakeTickClock::Advance(1000);
  EXPECT_EQ(orvalo::TickElapsedMs(), 1032u);
  platform::FakeTickClock::Uninstall();
}

TEST(OAHelpersTest, CheckThrowsOnlyFailures) {
  EXPECT_NO_THROW(orvalo::CheckHR(S_OK));
  EXPECT_NO_THROW(orvalo::CheckHR(S_FALSE));
  try {
    orvalo::CheckHR(E_FAIL);
    FAIL() << "no exception";
  } catch (const com::CComError& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
  }
  com::CComPtr<IUnknown> pNone;
  EXPECT_THROW(orvalo::CheckGot(S_OK, pNone), com::CComError);
}

TEST(OAHelpersTest, WideResultIsAUsableBstr) {
  BSTR b = orvalo::AnsiToWide(
      "Gr\xC3\xBC\xC3\x9F"
      "e");  // "Grüße"
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(com::Utf8FromBstr(b),
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  EXPECT_STREQ(orvalo::WideToAnsi(b),
               "Gr\xC3\xBC\xC3\x9F"
               "e");
  EXPECT_EQ(SysStringLen(orvalo::AnsiToWide(nullptr)), 0u);
  EXPECT_STREQ(orvalo::WideToAnsi(nullptr), "");
}

TEST(OAHelpersTest, TheTwoConvertersKeepSeparateBuffers) {
  BSTR a = orvalo::AnsiToWide("first");
  BSTR b = orvalo::AnsiToWide2("second");
  EXPECT_EQ(com::Utf8FromBstr(a), "first");
  EXPECT_EQ(com::Utf8FromBstr(b), "second");
}

TEST(OAHelpersTest, LongTextIsCutWithinTheBufferAtACharacterBoundary) {
  // 1022 ASCII bytes then a two-byte character that would not fit whole.
  const std::string text = std::string(1022, 'a') + "\xC3\xBC" + std::string(100, 'b');
  BSTR b = orvalo::AnsiToWide(text.c_str());
  ASSERT_EQ(SysStringLen(b), 1022u);
  EXPECT_EQ(com::Utf8FromBstr(b), std::string(1022, 'a'));
}

}  // namespace
