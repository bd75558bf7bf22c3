// A small in-process server for the runtime's tests: one dual class that
// registers itself with a ProgID and answers late-bound calls.
#include <cstdio>
#include <span>
#include <string>

#include "com/DispatchImpl.h"
#include "com/Registration.h"
#include "com/ServerExports.h"
#include "com/ServerModule.h"
#include "tests/com/TestServer.h"

namespace {

class CTestServer final : public com::CDualObject<CTestServer, ITestServer> {
 public:
  static std::span<const com::DispMember> DispTable() {
    static constexpr com::DispMember kTable[] = {
        com::DispMethod<&ITestServer::Describe>("Describe", 1),
        com::DispMethod<&ITestServer::Add>("Add", 2),
        com::DispMethod<&ITestServer::Twice>("Twice", 3),
        com::DispMethod<&ITestServer::Fail>("Fail", 4),
        com::DispMethod<&ITestServer::IsServer>("IsServer", 5),
        com::DispMethod<&ITestServer::Ping>("Ping", 6),
        com::DispMethod<&ITestServer::get_Count>("Count", 7, com::DispKind::kPropertyGet),
        com::DispMethod<&ITestServer::put_Count>("Count", 7, com::DispKind::kPropertyPut),
    };
    return kTable;
  }

  HRESULT Describe(BSTR bstrText, LONG nNumber, VARIANT_BOOL fFlag, float rReal,
                   BSTR* pbstrOut) override {
    if (pbstrOut == nullptr) return E_POINTER;
    char buf[64];
    std::snprintf(buf, sizeof buf, "|%d|%s|%g", nNumber, fFlag ? "true" : "false", rReal);
    *pbstrOut = com::BstrFromUtf8(com::Utf8FromBstr(bstrText) + buf);
    return *pbstrOut != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Add(LONG a, LONG b, LONG* pnSum) override {
    if (pnSum == nullptr) return E_POINTER;
    *pnSum = a + b;
    return S_OK;
  }
  HRESULT Twice(LONG* pnInOut) override {
    if (pnInOut == nullptr) return E_POINTER;
    *pnInOut *= 2;
    return S_OK;
  }
  HRESULT Fail(LONG hr) override { return hr; }
  HRESULT Ping() override { return S_OK; }
  HRESULT get_Count(LONG* pnCount) override {
    if (pnCount == nullptr) return E_POINTER;
    *pnCount = m_nCount;
    return S_OK;
  }
  HRESULT put_Count(LONG nCount) override {
    m_nCount = nCount;
    return S_OK;
  }

 private:
  LONG m_nCount = 0;
  HRESULT IsServer(IUnknown* pUnk, VARIANT_BOOL* pfIs) override {
    if (pfIs == nullptr) return E_POINTER;
    ITestServer* p = nullptr;
    *pfIs = pUnk != nullptr && SUCCEEDED(pUnk->QueryInterface(ITestServer::kIID,
                                                             reinterpret_cast<void**>(&p)))
                ? VARIANT_TRUE
                : VARIANT_FALSE;
    if (p != nullptr) p->Release();
    return S_OK;
  }
};

com::CoClassRegistration ClassRegistration() {
  com::CoClassRegistration reg{};
  reg.clsid = CLSID_TestServer;
  reg.description = "TestServer Class";
  reg.progId = kTestServerProgId;
  reg.versionIndependentProgId = kTestServerViProgId;
  reg.pLibId = &LIBID_TestServerLib;
  reg.version = "1.0";
  reg.flagKeys = {"Programmable"};
  reg.extra = {{"ToolboxBitmap32", "", "%MODULE%, 101"}};
  return reg;
}

com::TypeLibRegistration TypeLibRegistration() {
  return com::TypeLibRegistration{LIBID_TestServerLib, "1.0", "TestServer 1.0 Type Library",
                                  {{ITestServer::kIID, "ITestServer"}}};
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == CLSID_TestServer) return com::GetClassObject<CTestServer>(riid, ppv);
  if (ppv != nullptr) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }

extern "C" HRESULT DllRegisterServer() {
  const std::string path = com::CurrentModulePath();
  HRESULT hr = com::RegisterCoClass(ClassRegistration(), path);
  return FAILED(hr) ? hr : com::RegisterTypeLib(TypeLibRegistration(), path);
}

extern "C" HRESULT DllUnregisterServer() {
  HRESULT hr = com::UnregisterCoClass(ClassRegistration());
  return FAILED(hr) ? hr : com::UnregisterTypeLib(TypeLibRegistration());
}
