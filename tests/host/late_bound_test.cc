#include <gtest/gtest.h>

#include "HostFixture.h"
#include "com/DispClient.h"

namespace hosttest {
namespace {

com::CComVariant Missing() {
  com::CComVariant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

// A property get by name, the result as an interface of type T.
template <class T>
com::CComPtr<T> GetObject(IDispatch* p, const char* name, std::vector<com::CComVariant> args = {}) {
  com::CComVariant r;
  EXPECT_EQ(com::InvokeByName(p, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, &r), S_OK)
      << name;
  com::CComPtr<T> out;
  if (r.vt == VT_DISPATCH) out.QueryFrom(r.pdispVal);
  return out;
}

LONG GetLong(IDispatch* p, const char* name) {
  com::CComVariant r;
  EXPECT_EQ(com::InvokeByName(p, name, DISPATCH_PROPERTYGET, {}, &r), S_OK) << name;
  EXPECT_EQ(r.ChangeType(VT_I4), S_OK);
  return r.lVal;
}

// A macro calls the object model by name with its optional arguments left
// out, either by passing fewer or by passing the "missing" mark.
TEST_F(HostTest, LateBoundCallsTakeDefaultsForLeftOutArguments) {
  std::string file = MakeFile("Talk.ppt", 3);
  auto all = GetObject<Presentations>(m_app.get(), "Presentations");
  ASSERT_TRUE(all);
  auto pres = GetObject<_Presentation>(all.get(), "Open", {com::CComVariant(file.c_str())});
  ASSERT_TRUE(pres) << "WithWindow defaults to msoTrue: the presentation is active";
  auto active = GetObject<_Presentation>(m_app.get(), "ActivePresentation");
  ASSERT_TRUE(active);

  // ReadOnly left out in the middle, WithWindow given: msoFalse.
  std::vector<com::CComVariant> args = {com::CComVariant(file.c_str()), Missing(),
                                        com::CComVariant(0L), com::CComVariant(0L)};
  com::CComVariant r;
  ASSERT_EQ(com::InvokeByName(all.get(), "open", DISPATCH_METHOD, args, &r), S_OK);
  EXPECT_EQ(r.vt, VT_DISPATCH);
  EXPECT_EQ(GetLong(all.get(), "Count"), 2);

  // A required argument left out is not read as a number.
  std::vector<com::CComVariant> noIndex = {Missing()};
  auto slides = GetObject<Slides>(pres.get(), "Slides");
  ASSERT_TRUE(slides);
  EXPECT_EQ(com::InvokeByName(slides.get(), "Item", DISPATCH_METHOD, noIndex, &r),
            DISP_E_PARAMNOTOPTIONAL);
  std::vector<com::CComVariant> addNoLayout = {com::CComVariant(1L), Missing()};
  EXPECT_EQ(com::InvokeByName(slides.get(), "Add", DISPATCH_METHOD, addNoLayout, &r),
            DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(GetLong(slides.get(), "Count"), 3);

  // InsertFromFile with the slide range left out: all of the file.
  std::vector<com::CComVariant> insert = {com::CComVariant(file.c_str()), com::CComVariant(3L)};
  ASSERT_EQ(com::InvokeByName(slides.get(), "InsertFromFile", DISPATCH_METHOD, insert, &r), S_OK);
  EXPECT_EQ(r.lVal, 3);
  EXPECT_EQ(GetLong(slides.get(), "Count"), 6);

  // Enumerations go as numbers, both ways.
  auto settings = GetObject<SlideShowSettings>(pres.get(), "SlideShowSettings");
  auto wnd = GetObject<SlideShowWindow>(settings.get(), "Run");
  ASSERT_TRUE(wnd);
  auto view = GetObject<SlideShowView>(wnd.get(), "View");
  std::vector<com::CComVariant> black = {com::CComVariant(3L)};
  ASSERT_EQ(com::InvokeByName(view.get(), "State", DISPATCH_PROPERTYPUT, black), S_OK);
  EXPECT_EQ(GetLong(view.get(), "State"), ppSlideShowBlackScreen);
  std::vector<com::CComVariant> go = {com::CComVariant(2L)};  // ResetSlide left out
  ASSERT_EQ(com::InvokeByName(view.get(), "GotoSlide", DISPATCH_METHOD, go), S_OK);
  EXPECT_EQ(GetLong(view.get(), "CurrentShowPosition"), 2);
}

// Failing members hand nothing out, and an object handed out to nobody is
// released.
TEST_F(HostTest, LateBoundObjectsNobodyTakesAreReleased) {
  auto pres = Open(MakeFile("Talk.ppt", 1));
  auto settings = GetObject<SlideShowSettings>(pres.get(), "SlideShowSettings");
  ASSERT_EQ(com::InvokeByName(settings.get(), "Run", DISPATCH_METHOD, {}, nullptr), S_OK);
  com::CComPtr<SlideShowWindows> windows;
  ASSERT_EQ(m_app->get_SlideShowWindows(windows.Out()), S_OK);
  LONG n = 0;
  windows->get_Count(&n);
  EXPECT_EQ(n, 1);
  com::CComVariant r;
  std::vector<com::CComVariant> bad = {com::CComVariant(7L)};
  EXPECT_EQ(com::InvokeByName(windows.get(), "Item", DISPATCH_METHOD, bad, &r), DISP_E_BADINDEX);
  EXPECT_EQ(r.vt, VT_EMPTY);
}

}  // namespace
}  // namespace hosttest
