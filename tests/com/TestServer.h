// The dual interface of the test server module, shared by the module and the
// tests that load it.
#pragma once

#include "com/Dispatch.h"

inline constexpr CLSID CLSID_TestServer = com::MakeGuid("{5E1F0A20-7B7C-4C8E-9A51-3D2B8F6C1A01}");
inline constexpr GUID LIBID_TestServerLib = com::MakeGuid("{5E1F0A20-7B7C-4C8E-9A51-3D2B8F6C1A02}");
inline constexpr const char* kTestServerProgId = "OrvaloTest.Server.1";
inline constexpr const char* kTestServerViProgId = "OrvaloTest.Server";

struct ITestServer : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{5E1F0A20-7B7C-4C8E-9A51-3D2B8F6C1A03}");

  // DISPID 1: "<text>|<number>|<flag>|<real>", the arguments as received.
  virtual HRESULT Describe(BSTR bstrText, LONG nNumber, VARIANT_BOOL fFlag, float rReal,
                           BSTR* pbstrOut) = 0;
  // DISPID 2: a + b as the [out, retval].
  virtual HRESULT Add(LONG a, LONG b, LONG* pnSum) = 0;
  // DISPID 3: doubles the caller's number in place.
  virtual HRESULT Twice(LONG* pnInOut) = 0;
  // DISPID 4: returns `hr` itself.
  virtual HRESULT Fail(LONG hr) = 0;
  // DISPID 5: whether `pUnk` is an ITestServer.
  virtual HRESULT IsServer(IUnknown* pUnk, VARIANT_BOOL* pfIs) = 0;
  // DISPID 6: S_OK, taking nothing.
  virtual HRESULT Ping() = 0;
  // DISPID 7: a number property, 0 at first.
  virtual HRESULT get_Count(LONG* pnCount) = 0;
  virtual HRESULT put_Count(LONG nCount) = 0;

 protected:
  ~ITestServer() = default;
};
