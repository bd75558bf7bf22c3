// Pelago.so as an in-process server on one host: registration and its
// removal, and the objects' answers before Init and to bad arguments.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Pelago/PelagoCom.h"
#include "com/ComPtr.h"
#include "com/DispClient.h"
#include "com/Runtime.h"
#include "platform/File.h"
#include "platform/Registry.h"
#include "tests/pelago_com/ComServer.h"
#include "tests/registry/RegistryTree.h"

namespace {

using com::CComBSTR;
using com::CComPtr;
using com::CComVariant;
using pelago_com_test::CallExport;

constexpr HRESULT kNotInit = static_cast<HRESULT>(0x800704D9u);
constexpr HRESULT kBadArg = HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
constexpr HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

// All of HKEY_CLASSES_ROOT, every key and value as stored.
std::map<std::string, std::string> Snapshot() { return regtest::RegistryTree(HKEY_CLASSES_ROOT); }

std::string QueryString(const std::string& path, const std::string& value) {
  platform::RegKey key;
  std::string text;
  if (key.Open(HKEY_CLASSES_ROOT, path, KEY_READ) != ERROR_SUCCESS) return "<no key " + path + ">";
  if (key.QueryString(value, &text) != ERROR_SUCCESS) return "<no value " + value + ">";
  return text;
}

// A private registry and COM on the test's thread; Pelago.so is registered
// by the tests that need it.
class PelagoComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("pelagocom", &m_dir), ERROR_SUCCESS);
    pelago_com_test::UseRegistry(m_dir + "/registry.db");
    pelago_com_test::KeepModuleLoaded();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    unsetenv("ORVALO_REGISTRY");
    platform::DeleteTree(m_dir);
  }

  std::string m_dir;
};

TEST_F(PelagoComTest, RegistrationWritesClassesAndTypeLibraryAndUnregistrationRemovesThem) {
  // A registry as servers meet it: the shared containers and another class.
  platform::RegKey other;
  for (const char* szKey : {"Interface", "TypeLib"}) {
    ASSERT_EQ(other.Create(HKEY_CLASSES_ROOT, szKey), ERROR_SUCCESS);
  }
  ASSERT_EQ(other.Create(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-0000000000AA}"),
            ERROR_SUCCESS);
  ASSERT_EQ(other.SetString("", "another class"), ERROR_SUCCESS);
  other.Close();
  const auto before = Snapshot();

  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  const std::string module = std::filesystem::canonical(PELAGO_SO_PATH).string();
  const std::string libid = com::FormatGuid(LIBID_PelagoLib);
  struct Class {
    CLSID clsid;
    std::u16string progId, viProgId;
  };
  for (const Class& c : {Class{CLSID_PelagoSnd, u"Pelago.PelagoSnd.1", u"Pelago.PelagoSnd"},
                         Class{CLSID_PelagoRcv, u"Pelago.PelagoRcv.1", u"Pelago.PelagoRcv"}}) {
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(c.viProgId.c_str(), &found), S_OK);
    EXPECT_EQ(found, c.clsid);
    ASSERT_EQ(CLSIDFromProgID(c.progId.c_str(), &found), S_OK);
    EXPECT_EQ(found, c.clsid);
    const std::string key = "CLSID\\" + com::FormatGuid(c.clsid);
    EXPECT_EQ(QueryString(key + "\\InprocServer32", ""), module);
    EXPECT_EQ(QueryString(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(QueryString(key + "\\TypeLib", ""), libid);
  }
  EXPECT_EQ(QueryString("TypeLib\\" + libid + "\\1.0\\0\\win32", ""), module);
  for (const IID& iid : {IPelagoSnd::kIID, IPelagoRcv::kIID, _IPelagoSndEvents::kIID,
                         _IPelagoRcvEvents::kIID}) {
    EXPECT_EQ(QueryString("Interface\\" + com::FormatGuid(iid) + "\\TypeLib", ""), libid);
  }
  const auto registered = Snapshot();
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);  // again: the same keys
  EXPECT_EQ(Snapshot(), registered);

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(Snapshot(), before);
  CLSID none{};
  EXPECT_EQ(CLSIDFromProgID(u"Pelago.PelagoSnd", &none), CO_E_CLASSSTRING);
  CComPtr<IPelagoRcv> rcv;
  EXPECT_EQ(rcv.CoCreateInstance(CLSID_PelagoRcv), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);  // nothing left to remove
}

TEST_F(PelagoComTest, EveryMethodButInitAndTestNeedsInitBothEarlyAndLateBound) {
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  CComPtr<IPelagoSnd> snd;
  CComPtr<IPelagoRcv> rcv;
  ASSERT_EQ(snd.CoCreateInstance(kPelagoSndViProgId), S_OK);
  ASSERT_EQ(rcv.CoCreateInstance(kPelagoRcvViProgId), S_OK);

  CComBSTR file(m_dir + "/registry.db");
  LONG n[11] = {};
  BSTR name = nullptr;
  const std::vector<std::pair<const char*, std::function<HRESULT()>>> early = {
      {"Snd Start", [&] { return snd->Start(file); }},
      {"Snd Stop", [&] { return snd->Stop(); }},
      {"Rcv Start", [&] { return rcv->Start(); }},
      {"Rcv Stop", [&] { return rcv->Stop(); }},
      {"Rcv GetEvent", [&] { return rcv->GetEvent(0, &n[0], &n[1], &n[2], &n[3], &name, &n[4]); }},
      {"Rcv GetStats",
       [&] {
         return rcv->GetStats(&n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], &n[9],
                              &n[10]);
       }},
  };
  for (const auto& [what, call] : early) EXPECT_EQ(call(), kNotInit) << what;
  EXPECT_EQ(snd->Test(), S_OK);
  EXPECT_EQ(rcv->Test(), S_OK);

  // By name, in any case, as a macro calls them.
  CComPtr<IDispatch> sndDisp, rcvDisp;
  ASSERT_EQ(snd.QueryInterface(&sndDisp), S_OK);
  ASSERT_EQ(rcv.QueryInterface(&rcvDisp), S_OK);
  std::vector<CComVariant> refs;
  for (LONG& l : n) refs.push_back(CComVariant::ByRef(&l));
  std::vector<CComVariant> eventArgs = {CComVariant(LONG{0}), refs[0], refs[1], refs[2], refs[3],
                                        CComVariant::ByRef(&name), refs[4]};
  struct Late {
    IDispatch* pDisp;
    const char* szName;
    std::vector<CComVariant> args;
  };
  const std::vector<Late> late = {
      {sndDisp.get(), "start", {CComVariant(file.ToUtf8())}},
      {sndDisp.get(), "STOP", {}},
      {rcvDisp.get(), "Start", {}},
      {rcvDisp.get(), "stop", {}},
      {rcvDisp.get(), "GetEvent", eventArgs},
      {rcvDisp.get(), "getstats", refs},
  };
  for (const Late& c : late) {
    EXPECT_EQ(com::CallMethod(c.pDisp, c.szName, c.args), kNotInit) << c.szName;
  }
  EXPECT_EQ(com::CallMethod(sndDisp.get(), "test"), S_OK);
  EXPECT_EQ(com::CallMethod(rcvDisp.get(), "Test"), S_OK);
  EXPECT_EQ(name, nullptr);
}

TEST_F(PelagoComTest, BadArgumentsGiveFailures) {
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  CComPtr<IPelagoSnd> snd;
  CComPtr<IPelagoRcv> rcv;
  ASSERT_EQ(snd.CoCreateInstance(kPelagoSndViProgId), S_OK);
  ASSERT_EQ(rcv.CoCreateInstance(kPelagoRcvViProgId), S_OK);
  const CComBSTR group("239.255.42.1");

  struct SndInit {
    const char* szAddr;
    LONG nPort, nTTL, nRate;
  };
  for (const SndInit& c : {SndInit{"", 5000, 1, 1000}, SndInit{"239.255.42.100.1", 5000, 1, 1000},
                           SndInit{"239.255.42.1", 0, 1, 1000}, SndInit{"239.255.42.1", 65536, 1, 1000},
                           SndInit{"239.255.42.1", 5000, 256, 1000},
                           SndInit{"239.255.42.1", 5000, 1, 0}}) {
    EXPECT_EQ(snd->Init(CComBSTR(c.szAddr), c.nPort, c.nTTL, c.nRate), kBadArg)
        << c.szAddr << " " << c.nPort << " " << c.nTTL << " " << c.nRate;
  }
  EXPECT_EQ(snd->Stop(), kNotInit);  // no failed Init initialises
  ASSERT_EQ(snd->Init(group, 5000, 1, 1000000), S_OK);

  // A path of exactly 260 characters is taken (the file is missing); one more is refused.
  std::string dir = m_dir + "/";
  while (dir.size() < 260 - 10) dir += "d";
  ASSERT_EQ(platform::CreateDirectory(dir), ERROR_SUCCESS);
  std::string missing = dir + "/";
  missing.resize(260, 'm');
  const std::string empty = m_dir + "/empty.bin";
  platform::File f;
  ASSERT_EQ(f.Open(empty, platform::OpenMode::kCreateAlways), ERROR_SUCCESS);
  f.Close();
  struct SndStart {
    std::string name;
    HRESULT hr;
  };
  for (const SndStart& c : {SndStart{missing, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
                            SndStart{missing + "m", kTooLong}, SndStart{empty, kBadArg},
                            SndStart{"", kBadArg}}) {
    EXPECT_EQ(snd->Start(CComBSTR(c.name)), c.hr) << c.name.size() << " " << c.name;
  }
  CComPtr<IDispatch> disp;
  ASSERT_EQ(snd.QueryInterface(&disp), S_OK);
  EXPECT_EQ(com::CallMethod(disp.get(), "Start", {CComVariant(missing + "m")}), kTooLong);
  EXPECT_EQ(snd->Stop(), S_OK);

  std::string longDir = m_dir + "/";
  longDir.resize(260, 's');
  EXPECT_EQ(rcv->Init(group, 5000, CComBSTR(longDir)), kTooLong);
  EXPECT_EQ(rcv->Init(group, -1, CComBSTR(m_dir)), kBadArg);
  EXPECT_EQ(rcv->Init(CComBSTR("239.255.42.100.1"), 5000, CComBSTR(m_dir)), kBadArg);
  EXPECT_EQ(rcv->Init(group, 5000, CComBSTR("")), kBadArg);
  EXPECT_EQ(rcv->Start(), kNotInit);
}

TEST_F(PelagoComTest, ReceiveStartsAgainAfterStopAndRefusesANegativeTimeOut) {
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  CComPtr<IPelagoRcv> rcv;
  ASSERT_EQ(rcv.CoCreateInstance(kPelagoRcvViProgId), S_OK);
  ASSERT_EQ(rcv->Init(CComBSTR("239.255.42.2"), 5002, CComBSTR(m_dir)), S_OK);
  LONG nType = -1, nError = -1, nId = -1, nLen = -1, fGot = -1;
  BSTR name = nullptr;
  auto getEvent = [&](LONG nTimeoutMs) {
    return rcv->GetEvent(nTimeoutMs, &nType, &nError, &nId, &nLen, &name, &fGot);
  };
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(rcv->Start(), S_OK) << i;
    ASSERT_EQ(getEvent(300), S_OK);
    EXPECT_EQ(nType, PELAGORE_CONTINUE) << "a dead receive, error " << nError;
    EXPECT_EQ(fGot, 0);
    EXPECT_EQ(rcv->Stop(), S_OK);
  }
  // Refused at once rather than waiting for ever (checked on a thread of its
  // own, so that a fault fails the test instead of hanging it).
  std::promise<HRESULT> result;
  std::future<HRESULT> done = result.get_future();
  std::thread([&, p = std::move(result)]() mutable { p.set_value(getEvent(-1)); }).detach();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "GetEvent(-1) still waits";
  EXPECT_EQ(done.get(), kBadArg);
  EXPECT_EQ(name, nullptr);
}

}  // namespace
