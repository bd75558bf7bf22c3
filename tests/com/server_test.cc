#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "com/ComPtr.h"
#include "com/DispClient.h"
#include "com/Runtime.h"
#include "com/ServerExports.h"
#include "platform/File.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/com/TestServer.h"

namespace {

using com::CComPtr;
using com::CComVariant;

// A fresh registry with the test server registered by its own
// DllRegisterServer, as the launcher registers a library; COM initialised.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("comtest", &m_dir), ERROR_SUCCESS);
    setenv("ORVALO_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    unsetenv("ORVALO_REGISTRY");
    platform::DeleteTree(m_dir);
  }

  static HRESULT CallExport(const char* name) {
    return com::CallServerExport(TEST_SERVER_PATH, name);
  }

  CComPtr<IDispatch> Create() {
    CComPtr<IDispatch> p;
    EXPECT_EQ(p.CoCreateInstance(kTestServerViProgId), S_OK);
    return p;
  }

  std::string m_dir;
};

TEST_F(ServerTest, RegistersAndIsCreatedByProgId) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"OrvaloTest.Server", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestServer);
  ASSERT_EQ(CLSIDFromProgID(u"orvalotest.server.1", &clsid), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"OrvaloTest.Nothing", &clsid), CO_E_CLASSSTRING);

  platform::RegKey key;
  std::string text;
  ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT,
                     "CLSID\\" + com::FormatGuid(CLSID_TestServer) + "\\InprocServer32", KEY_READ),
            ERROR_SUCCESS);
  ASSERT_EQ(key.QueryString("", &text), ERROR_SUCCESS);
  EXPECT_EQ(platform::BaseName(text), platform::BaseName(TEST_SERVER_PATH));
  EXPECT_EQ(key.QueryString("ThreadingModel", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Apartment");

  // Created through the runtime; the C++ interface and IDispatch are one object.
  CComPtr<ITestServer> server;
  ASSERT_EQ(server.CoCreateInstance(CLSID_TestServer), S_OK);
  LONG sum = 0;
  EXPECT_EQ(server->Add(2, 3, &sum), S_OK);
  EXPECT_EQ(sum, 5);
  CComPtr<IDispatch> disp;
  ASSERT_EQ(server.QueryInterface(&disp), S_OK);
  CComPtr<IUnknown> a, b;
  ASSERT_EQ(a.QueryFrom(server.get()), S_OK);
  ASSERT_EQ(b.QueryFrom(disp.get()), S_OK);
  EXPECT_EQ(a.get(), b.get());
  CComPtr<IClassFactory> none;
  EXPECT_EQ(none.QueryFrom(server.get()), E_NOINTERFACE);
}

TEST_F(ServerTest, AnswersLateBoundCalls) {
  CComPtr<IDispatch> p = Create();
  ASSERT_TRUE(p);

  // By name in any case, arguments in natural order, [out, retval] as result.
  CComVariant result;
  ASSERT_EQ(com::CallMethod(p.get(), "dEsCrIbE",
                            {CComVariant("Gr\xC3\xBC\xC3\x9F" "e"), CComVariant(LONG{-7}),
                             CComVariant(true), CComVariant(1.5f)},
                            &result),
            S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(com::Utf8FromBstr(result.bstrVal), "Gr\xC3\xBC\xC3\x9F" "e|-7|true|1.5");

  // By DISPID, with arguments that need converting (text and a short integer).
  DISPID id = 0;
  ASSERT_EQ(com::GetDispId(p.get(), "ADD", &id), S_OK);
  EXPECT_EQ(id, 2);
  CComVariant small;
  small.vt = VT_I2;
  small.iVal = 40;
  std::vector<CComVariant> args = {small, CComVariant("2")};
  ASSERT_EQ(com::InvokeById(p.get(), id, DISPATCH_METHOD, args, &result), S_OK);
  ASSERT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 42);

  // A by-reference argument, and one behind VT_BYREF|VT_VARIANT.
  LONG n = 21;
  ASSERT_EQ(com::CallMethod(p.get(), "Twice", {CComVariant::ByRef(&n)}), S_OK);
  EXPECT_EQ(n, 42);
  CComVariant inner(LONG{5});
  ASSERT_EQ(com::CallMethod(p.get(), "Twice", {CComVariant::ByRef(static_cast<VARIANT*>(&inner))}),
            S_OK);
  EXPECT_EQ(inner.lVal, 10);

  ASSERT_EQ(com::CallMethod(p.get(), "ping", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(com::CallMethod(p.get(), "ping", {CComVariant(LONG{1})}), DISP_E_BADPARAMCOUNT);

  // A property: put names its argument DISPID_PROPERTYPUT, get returns the value.
  std::vector<CComVariant> nine = {CComVariant(LONG{9})};
  ASSERT_EQ(com::InvokeByName(p.get(), "count", DISPATCH_PROPERTYPUT, nine), S_OK);
  ASSERT_EQ(com::InvokeByName(p.get(), "COUNT", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 9);
  CComVariant argv1(LONG{1});
  DISPPARAMS unnamed{&argv1, nullptr, 1, 0};
  EXPECT_EQ(p->Invoke(7, IID_NULL, 0, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTOPTIONAL);

  // An interface argument.
  ASSERT_EQ(com::CallMethod(p.get(), "IsServer", {CComVariant(static_cast<IDispatch*>(p.get()))},
                            &result),
            S_OK);
  ASSERT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST_F(ServerTest, LateBoundFailuresKeepTheirCodes) {
  CComPtr<IDispatch> p = Create();
  ASSERT_TRUE(p);
  DISPID id = 0;
  EXPECT_EQ(com::GetDispId(p.get(), "NoSuchMethod", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  // Raw Invoke: reverse order, argument errors with their index, member failures as exceptions.
  CComVariant argv[2] = {CComVariant("not a number"), CComVariant(LONG{1})};
  DISPPARAMS params{argv, nullptr, 2, 0};
  UINT argErr = 99;
  CComVariant result;
  EXCEPINFO info{};
  EXPECT_EQ(p->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);  // rgvarg[0] is the last argument, b
  params.cArgs = 1;
  EXPECT_EQ(p->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info, &argErr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(p->Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info, &argErr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(p->Invoke(2, IID_IUnknown, 0, DISPATCH_METHOD, &params, &result, &info, &argErr),
            DISP_E_UNKNOWNINTERFACE);

  const HRESULT kNotInit = HRESULT_FROM_WIN32(ERROR_NOT_INITIALIZED);
  CComVariant code(LONG{kNotInit});
  DISPPARAMS one{&code, nullptr, 1, 0};
  EXPECT_EQ(p->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, kNotInit);
  EXPECT_EQ(p->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), kNotInit);
  EXPECT_EQ(com::CallMethod(p.get(), "fail", {CComVariant(LONG{S_FALSE})}), S_FALSE);
  EXPECT_EQ(com::CallMethod(p.get(), "fail", {code}), kNotInit);
  // A by-reference parameter given a plain value.
  EXPECT_EQ(com::CallMethod(p.get(), "Twice", {CComVariant(LONG{3})}), DISP_E_TYPEMISMATCH);
}

TEST_F(ServerTest, UnloadsOnceUnusedAndUnregistersCleanly) {
  {
    CComPtr<IDispatch> p = Create();
    ASSERT_TRUE(p);
    CoFreeUnusedLibraries();  // an object is alive: the module stays
    EXPECT_TRUE(platform::IsModuleLoaded(TEST_SERVER_PATH));
  }
  {
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr,
                               IClassFactory::kIID, factory.OutVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Release();
    CoFreeUnusedLibraries();  // locked
    EXPECT_TRUE(platform::IsModuleLoaded(TEST_SERVER_PATH));
    ASSERT_EQ(CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr,
                               IClassFactory::kIID, factory.OutVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  }
  CoFreeUnusedLibraries();
  EXPECT_FALSE(platform::IsModuleLoaded(TEST_SERVER_PATH));

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  for (const std::string& key : {std::string("OrvaloTest.Server"), std::string("OrvaloTest.Server.1"),
                                 "CLSID\\" + com::FormatGuid(CLSID_TestServer),
                                 "TypeLib\\" + com::FormatGuid(LIBID_TestServerLib),
                                 "Interface\\" + com::FormatGuid(ITestServer::kIID)}) {
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND)
        << key;
  }
  CComPtr<IDispatch> p;
  EXPECT_EQ(p.CoCreateInstance(CLSID_TestServer), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(platform::IsModuleLoaded(TEST_SERVER_PATH));
}

TEST_F(ServerTest, BadRegistrationsFailWithoutCrashing) {
  struct Case { const char* what; const char* modulePath; HRESULT hr; };
  const std::string notALibrary = m_dir + "/registry.db";
  const Case cases[] = {
      {"missing module", "/nonexistent/dir/missing.so", CO_E_DLLNOTFOUND},
      {"no DllGetClassObject", NO_EXPORTS_PATH, CO_E_ERRORINDLL},
      {"not a library", notALibrary.c_str(), CO_E_ERRORINDLL},
      {"no module path", "", CO_E_DLLNOTFOUND},
  };
  DWORD n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CLSID clsid = CLSID_TestServer;
    clsid.Data1 = 0x1000 + n++;
    platform::RegKey key;
    ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "CLSID\\" + com::FormatGuid(clsid) + "\\InprocServer32"),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("", c.modulePath), ERROR_SUCCESS);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv), c.hr);
    EXPECT_EQ(pv, nullptr);
  }
  EXPECT_FALSE(platform::IsModuleLoaded(NO_EXPORTS_PATH));

  void* pv = nullptr;
  CLSID unknown = com::MakeGuid("{00000000-1111-2222-3333-444444444444}");
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &pv), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &pv),
            REGDB_E_CLASSNOTREG);
  // A known class asked for an interface it lacks, and aggregation.
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_ALL, IClassFactory::kIID, &pv),
            E_NOINTERFACE);
  CComPtr<IDispatch> outer = Create();
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, outer.get(), CLSCTX_ALL, IID_IUnknown, &pv),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(pv, nullptr);
}

TEST(RuntimeTest, CountsInitialisationPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

}  // namespace
