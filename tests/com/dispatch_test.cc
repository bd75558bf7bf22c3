#include <gtest/gtest.h>

#include <span>

#include "com/ComPtr.h"
#include "com/DispClient.h"
#include "com/DispatchImpl.h"

namespace {

using com::CComPtr;
using com::CComVariant;

enum Shade : LONG { kLight = 1, kDark = -1 };

struct IChild : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{6A0D3E51-2F4B-4C57-8E1A-7B9C0D2E3F41}");
  virtual HRESULT get_Value(LONG* pn) = 0;

 protected:
  ~IChild() = default;
};

struct IParent : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{6A0D3E51-2F4B-4C57-8E1A-7B9C0D2E3F42}");
  // "<shade> <n> <m>" of the arguments as received.
  virtual HRESULT Mix(Shade shade, LONG n, LONG m, BSTR* pbstr) = 0;
  // A new child of value n; with fail set, it still hands one out and fails.
  virtual HRESULT MakeChild(LONG n, VARIANT_BOOL fail, IChild** pp) = 0;
  virtual HRESULT ValueOf(IChild* pChild, LONG* pn) = 0;
  virtual HRESULT get_Shade(Shade* p) = 0;

 protected:
  ~IParent() = default;
};

int g_children = 0;  // live CChild objects

class CChild final : public com::CDualObject<CChild, IChild> {
 public:
  explicit CChild(LONG n) : m_n(n) { ++g_children; }
  ~CChild() override { --g_children; }
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&IChild::get_Value>("Value", 1, com::DispKind::kPropertyGet)};
    return kTable;
  }
  HRESULT get_Value(LONG* pn) override {
    *pn = m_n;
    return S_OK;
  }

 private:
  LONG m_n;
};

class CParent final : public com::CDualObject<CParent, IParent> {
 public:
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&IParent::Mix, 7, -1>("Mix", 1),
        com::DispMethod<&IParent::MakeChild, VARIANT_FALSE>("MakeChild", 2),
        com::DispMethod<&IParent::ValueOf>("ValueOf", 3),
        com::DispMethod<&IParent::get_Shade>("Shade", 4, com::DispKind::kPropertyGet),
    };
    return kTable;
  }
  HRESULT Mix(Shade shade, LONG n, LONG m, BSTR* pbstr) override {
    std::string s = std::to_string(shade) + " " + std::to_string(n) + " " + std::to_string(m);
    *pbstr = com::BstrFromUtf8(s);
    return S_OK;
  }
  HRESULT MakeChild(LONG n, VARIANT_BOOL fail, IChild** pp) override {
    *pp = new CChild(n);
    (*pp)->AddRef();
    return fail ? E_FAIL : S_OK;
  }
  HRESULT ValueOf(IChild* pChild, LONG* pn) override {
    *pn = -1;
    return pChild == nullptr ? S_FALSE : pChild->get_Value(pn);
  }
  HRESULT get_Shade(Shade* p) override {
    *p = kDark;
    return S_OK;
  }
};

CComVariant Missing() {
  CComVariant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CParent* p = new CParent;
    m_parent = CComPtr<IParent>(p);
  }
  void TearDown() override {
    m_parent.Release();
    EXPECT_EQ(g_children, 0) << "every child handed out was released";
  }
  HRESULT Call(const char* name, std::vector<CComVariant> args, VARIANT* pResult = nullptr,
               WORD flags = DISPATCH_METHOD) {
    return com::InvokeByName(m_parent.get(), name, flags, args, pResult);
  }
  CComPtr<IParent> m_parent;
};

TEST_F(DispatchTest, OptionalArgumentsTakeTheirDefaults) {
  struct Case {
    std::vector<CComVariant> args;
    HRESULT hr;
    const char* text;
  } cases[] = {
      {{CComVariant(1L), CComVariant(2L), CComVariant(3L)}, S_OK, "1 2 3"},
      {{CComVariant(1L), CComVariant(2L)}, S_OK, "1 2 -1"},
      {{CComVariant(-1L)}, S_OK, "-1 7 -1"},
      {{CComVariant(1L), Missing(), CComVariant(3L)}, S_OK, "1 7 3"},
      {{CComVariant(1L), Missing(), Missing()}, S_OK, "1 7 -1"},
      {{Missing(), CComVariant(2L)}, DISP_E_PARAMNOTOPTIONAL, nullptr},
      {{}, DISP_E_BADPARAMCOUNT, nullptr},
      {{CComVariant(1L), CComVariant(2L), CComVariant(3L), CComVariant(4L), CComVariant(5L)},
       DISP_E_BADPARAMCOUNT,
       nullptr},
  };
  for (auto& c : cases) {
    CComVariant r;
    EXPECT_EQ(Call("Mix", c.args, &r), c.hr) << c.args.size();
    if (c.text != nullptr) {
      ASSERT_EQ(r.vt, VT_BSTR);
      EXPECT_EQ(com::Utf8FromBstr(r.bstrVal), c.text);
    }
  }
  // An error value that is not the "missing" mark is no number either.
  CComVariant err;
  err.vt = VT_ERROR;
  err.scode = E_FAIL;
  EXPECT_EQ(Call("Mix", {CComVariant(1L), err}), DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTest, EnumerationsAndTypedInterfacesCrossBothWays) {
  CComVariant r;
  ASSERT_EQ(Call("Shade", {}, &r, DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(r.vt, VT_I4);
  EXPECT_EQ(r.lVal, kDark);

  ASSERT_EQ(Call("MakeChild", {CComVariant(42L)}, &r), S_OK);
  ASSERT_EQ(r.vt, VT_DISPATCH);
  CComVariant child(r.pdispVal);
  ASSERT_EQ(Call("ValueOf", {child}, &r), S_OK);
  EXPECT_EQ(r.lVal, 42);
  CComVariant asUnknown(static_cast<IUnknown*>(child.pdispVal));
  ASSERT_EQ(Call("ValueOf", {asUnknown}, &r), S_OK);
  EXPECT_EQ(r.lVal, 42);
  CComVariant none(static_cast<IUnknown*>(nullptr));
  EXPECT_EQ(Call("ValueOf", {none}, &r), S_FALSE);
  // An object that is no IChild is refused, not cast.
  CComVariant parent(static_cast<IDispatch*>(m_parent.get()));
  UINT argErr = 99;
  std::vector<CComVariant> args = {parent};
  DISPID id = 0;
  ASSERT_EQ(com::GetDispId(m_parent.get(), "ValueOf", &id), S_OK);
  DISPPARAMS params{args.data(), nullptr, 1, 0};
  EXPECT_EQ(m_parent->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &r, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);

  // A child into a by-reference VARIANT and into a typed slot.
  CComVariant slot(7L);
  ASSERT_EQ(Call("MakeChild", {CComVariant(5L), CComVariant(false), CComVariant::ByRef(&slot)}),
            S_OK);
  ASSERT_EQ(slot.vt, VT_DISPATCH);
  IDispatch* pOut = nullptr;
  CComVariant ref;
  ref.vt = VT_BYREF | VT_DISPATCH;
  ref.ppdispVal = &pOut;
  ASSERT_EQ(Call("MakeChild", {CComVariant(6L), CComVariant(false), ref}), S_OK);
  ASSERT_NE(pOut, nullptr);
  pOut->Release();
}

TEST_F(DispatchTest, WhatAFailingOrUnheardMemberHandsOutIsReleased) {
  CComVariant r;
  EXPECT_EQ(Call("MakeChild", {CComVariant(1L), CComVariant(true)}, &r), E_FAIL);
  EXPECT_EQ(r.vt, VT_EMPTY);
  EXPECT_EQ(Call("MakeChild", {CComVariant(1L)}, nullptr), S_OK);  // nobody takes it
  // An [out] VARIANT's old value is cleared, not overwritten.
  CComVariant slot("old text");
  ASSERT_EQ(
      Call("Mix", {CComVariant(1L), CComVariant(2L), CComVariant(3L), CComVariant::ByRef(&slot)}),
      S_OK);
  EXPECT_EQ(com::Utf8FromBstr(slot.bstrVal), "1 2 3");
  // The leak checker (AddressSanitizer build) and TearDown's count tell.
}

TEST(ComVariantTest, TakesUnsignedAndLongValues) {
  struct Case {
    CComVariant v;
    VARTYPE vt;
    double value;
  } cases[] = {
      {CComVariant(DWORD{4000000000u}), VT_UI4, 4000000000.0},
      {CComVariant(7u), VT_UI4, 7},
      {CComVariant(-5L), VT_I4, -5},
      {CComVariant(1L << 40), VT_R8, 1099511627776.0},
      {CComVariant(5UL), VT_UI4, 5},
      {CComVariant(LONG{-2}), VT_I4, -2},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.v.vt, c.vt);
    CComVariant d = c.v;
    ASSERT_EQ(d.ChangeType(VT_R8), S_OK);
    EXPECT_EQ(d.dblVal, c.value);
  }
}

}  // namespace
