// Recording stand-ins of the presenter and audience controls, served under
// their class identities, for the tests of the macro add-ins.
#include <mutex>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ServerExports.h"
#include "com/ServerModule.h"
#include "host/PowerPoint.h"
#include "orvalo/orvaloCom.h"
#include "orvalo/orvaloDispTables.h"
#include "tests/orvalo_controls/FakeControls.h"

namespace {

std::mutex g_mutex;
std::string g_sLog;         // guarded by g_mutex
std::string g_sFailMethod;  // guarded by g_mutex
int g_nAbort = 0;           // guarded by g_mutex

HRESULT Record(const std::string& sObject, const std::string& sMethod,
               const std::vector<std::string>& args) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sLog += sObject + "." + sMethod + "(";
  for (std::size_t i = 0; i < args.size(); ++i) g_sLog += (i > 0 ? "," : "") + args[i];
  g_sLog += ")\n";
  return sMethod == g_sFailMethod ? E_FAIL : S_OK;
}

std::string Text(BSTR b) { return com::Utf8FromBstr(b); }
std::string Num(LONG n) { return std::to_string(n); }
std::string App(IUnknown* p) {
  if (p == nullptr) return "null";
  IUnknown* pApp = nullptr;
  if (FAILED(p->QueryInterface(_Application::kIID, reinterpret_cast<void**>(&pApp))))
    return "other";
  pApp->Release();
  return "app";
}

class CFakeSnd final : public com::CDualObject<CFakeSnd, IorvaloSnd> {
 public:
  static std::span<const com::DispMember> DispTable() { return orvalo::OrvaloSndDispTable(); }
  HRESULT Test() override { return Record("Snd", "Test", {}); }
  HRESULT SetApp(IUnknown* p) override { return Record("Snd", "SetApp", {App(p)}); }
  HRESULT Terminate() override { return Record("Snd", "Terminate", {}); }
  HRESULT SetSlideShowWindow() override { return Record("Snd", "SetSlideShowWindow", {}); }
  HRESULT InstallTracker() override { return Record("Snd", "InstallTracker", {}); }
  HRESULT Init() override { return Record("Snd", "Init", {}); }
  HRESULT AddStream(BSTR a, LONG b, BSTR c, LONG d, LONG e, LONG f) override {
    return Record("Snd", "AddStream", {Text(a), Num(b), Text(c), Num(d), Num(e), Num(f)});
  }
  HRESULT Command(BSTR a) override { return Record("Snd", "Command", {Text(a)}); }
};

class CFakeRcv final : public com::CDualObject<CFakeRcv, IorvaloRcv> {
 public:
  static std::span<const com::DispMember> DispTable() { return orvalo::OrvaloRcvDispTable(); }
  HRESULT Pelago(BSTR a, LONG b) override { return Record("Rcv", "Pelago", {Text(a), Num(b)}); }
  HRESULT Init(BSTR a, LONG b, LONG c, LONG d, BSTR e, BSTR f, BSTR g, BSTR h) override {
    return Record("Rcv", "Init",
                  {Text(a), Num(b), Num(c), Num(d), Text(e), Text(f), Text(g), Text(h)});
  }
  HRESULT Terminate() override { return Record("Rcv", "Terminate", {}); }
  HRESULT SetApp(IUnknown* p) override { return Record("Rcv", "SetApp", {App(p)}); }
  HRESULT DoPelagoRcv(BSTR a, LONG b, LONG* pfAbort) override {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      *pfAbort = g_nAbort;
    }
    return Record("Rcv", "DoPelagoRcv", {Text(a), Num(b)});
  }
};

}  // namespace

extern "C" {

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == CLSID_orvaloSnd) return com::GetClassObject<CFakeSnd>(riid, ppv);
  if (rclsid == CLSID_orvaloRcv) return com::GetClassObject<CFakeRcv>(riid, ppv);
  if (ppv != nullptr) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }
HRESULT DllRegisterServer() { return E_NOTIMPL; }
HRESULT DllUnregisterServer() { return E_NOTIMPL; }

[[gnu::visibility("default")]] void FakeControlsReset(const char* szFailMethod, int nAbort) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sLog.clear();
  g_sFailMethod = szFailMethod != nullptr ? szFailMethod : "";
  g_nAbort = nAbort;
}

[[gnu::visibility("default")]] const char* FakeControlsLog() {
  static std::string s_sCopy;
  std::lock_guard<std::mutex> lock(g_mutex);
  s_sCopy = g_sLog;
  return s_sCopy.c_str();
}

}  // extern "C"
