// The controls as a client sees them: orvalo.so registered in a private
// registry, the controls created through the runtime and called early- and
// late-bound; and their picture.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/DispClient.h"
#include "com/Guid.h"
#include "com/Runtime.h"
#include "com/ServerExports.h"
#include "host/HostApplication.h"
#include "orvalo/orvaloCom.h"
#include "orvalo/orvaloRcv.h"
#include "orvalo/orvaloSnd.h"
#include "platform/File.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/orvalo_controls/BoxObserver.h"
#include "tests/registry/RegistryTree.h"
#include "ui/Dialog.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"

namespace {

using com::CComBSTR;
using com::CComPtr;
using com::CComVariant;

// Every key below HKEY_CLASSES_ROOT with its values, texts without their
// terminating null.
std::map<std::string, std::string> Snapshot() {
  std::map<std::string, std::string> all = regtest::RegistryTree(HKEY_CLASSES_ROOT);
  for (auto& [key, text] : all) {
    if (!text.empty() && text.back() == '\0') text.pop_back();
  }
  all.erase("");
  return all;
}

// Presses Cancel on every dialog shown; counts message boxes.
class CCancellingObserver : public controlstest::CBoxObserver {
 public:
  void OnDialogShown(HWND hDlg) override { ui::ClickDlgButton(hDlg, IDCANCEL); }
};

class ControlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Kept loaded for the whole run: unloading is tested elsewhere, and the
    // leak checker cannot see into a module that is gone.
    static HMODULE hOrvalo = LoadLibrary(ORVALO_SO_PATH);
    static HMODULE hPelago = LoadLibrary(PELAGO_SO_PATH);
    s_hOrvalo = hOrvalo;
    ASSERT_NE(hOrvalo, nullptr);
    ASSERT_NE(hPelago, nullptr);
  }
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("controls", &m_dir), ERROR_SUCCESS);
    setenv("ORVALO_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    ui::SetUiObserver(nullptr);
    CoUninitialize();
    unsetenv("ORVALO_REGISTRY");
    platform::DeleteTree(m_dir);
  }
  static void Register() {
    ASSERT_EQ(com::CallServerExport(ORVALO_SO_PATH, "DllRegisterServer"), S_OK);
  }
  static HRESULT CanUnloadNow() {
    auto pfn = reinterpret_cast<PFN_DllCanUnloadNow>(GetProcAddress(s_hOrvalo, "DllCanUnloadNow"));
    return pfn != nullptr ? pfn() : E_FAIL;
  }

  static HMODULE s_hOrvalo;
  std::string m_dir;
};
HMODULE ControlsTest::s_hOrvalo = nullptr;

TEST_F(ControlsTest, RegistrationWritesTheScriptsKeysAndTakesThemAway) {
  ASSERT_TRUE(Snapshot().empty());
  Register();
  char real[PATH_MAX];
  ASSERT_NE(realpath(ORVALO_SO_PATH, real), nullptr);
  const std::string module = real;
  const std::string libid = com::FormatGuid(LIBID_ORVALOLib);
  std::map<std::string, std::string> expected;
  struct Control {
    const char* szName;
    CLSID clsid;
    const char* szBitmap;
  };
  for (const Control& c : {Control{"orvaloSnd", CLSID_orvaloSnd, "105"},
                           Control{"orvaloRcv", CLSID_orvaloRcv, "101"}}) {
    const std::string name = c.szName, cls = name + " Class", clsid = com::FormatGuid(c.clsid);
    const std::string progId = "Orvalo." + name + ".1", vi = "Orvalo." + name;
    const std::string base = "CLSID\\" + clsid;
    for (const std::string& key :
         {progId, progId + "\\CLSID", vi, vi + "\\CLSID", vi + "\\CurVer", base, base + "\\ProgID",
          base + "\\VersionIndependentProgID", base + "\\Programmable", base + "\\Control",
          base + "\\Insertable", base + "\\InprocServer32", base + "\\ToolboxBitmap32",
          base + "\\MiscStatus", base + "\\MiscStatus\\1", base + "\\TypeLib", base + "\\Version"})
      expected[key] = "";
    expected[progId + "|"] = cls;
    expected[progId + "\\CLSID|"] = clsid;
    expected[vi + "|"] = cls;
    expected[vi + "\\CLSID|"] = clsid;
    expected[vi + "\\CurVer|"] = progId;
    expected[base + "|"] = cls;
    expected[base + "\\ProgID|"] = progId;
    expected[base + "\\VersionIndependentProgID|"] = vi;
    expected[base + "\\InprocServer32|"] = module;
    expected[base + "\\InprocServer32|ThreadingModel"] = "Apartment";
    expected[base + "\\ToolboxBitmap32|"] = module + ", " + c.szBitmap;
    expected[base + "\\MiscStatus|"] = "0";
    expected[base + "\\MiscStatus\\1|"] = "131473";
    expected[base + "\\TypeLib|"] = libid;
    expected[base + "\\Version|"] = "1.0";
  }
  const std::map<std::string, std::string> all = Snapshot();
  for (const auto& [key, value] : expected) {
    auto it = all.find(key);
    ASSERT_NE(it, all.end()) << key;
    EXPECT_EQ(it->second, value) << key;
  }
  const std::string typelib = "TypeLib\\" + libid + "\\1.0";
  ASSERT_TRUE(all.count(typelib + "|"));
  EXPECT_EQ(all.at(typelib + "|"), "orvalo 1.0 Type Library");
  for (const IID& iid : {IorvaloSnd::kIID, IorvaloRcv::kIID}) {
    ASSERT_TRUE(all.count("Interface\\" + com::FormatGuid(iid) + "\\TypeLib|"));
    EXPECT_EQ(all.at("Interface\\" + com::FormatGuid(iid) + "\\TypeLib|"), libid);
  }

  EXPECT_EQ(com::CallServerExport(ORVALO_SO_PATH, "DllUnregisterServer"), S_OK);
  // Only the shared parent keys stay, empty.
  for (const auto& [key, value] : Snapshot()) {
    if (key != "CLSID" && key != "Interface" && key != "TypeLib")
      ADD_FAILURE() << "left behind: " << key;
  }
}

TEST_F(ControlsTest, MembersAnswerByNameInAnyCaseWithTheirDispids) {
  Register();
  struct Case {
    const char* szProgId;
    std::vector<std::pair<const char*, DISPID>> members;
  };
  const Case cases[] = {
      {kOrvaloSndViProgId,
       {{"Test", 1},
        {"setapp", 2},
        {"TERMINATE", 3},
        {"SetSlideShowWindow", 4},
        {"InstallTracker", 5},
        {"Init", 6},
        {"AddStream", 7},
        {"command", 8}}},
      {kOrvaloRcvProgId,
       {{"Pelago", 1}, {"init", 2}, {"Terminate", 3}, {"SetApp", 4}, {"dopelagorcv", 5}}},
  };
  for (const Case& c : cases) {
    CComPtr<IDispatch> disp;
    ASSERT_EQ(disp.CoCreateInstance(std::string_view(c.szProgId)), S_OK) << c.szProgId;
    for (const auto& [szName, dispid] : c.members) {
      DISPID got = DISPID_UNKNOWN;
      EXPECT_EQ(com::GetDispId(disp.get(), szName, &got), S_OK) << szName;
      EXPECT_EQ(got, dispid) << szName;
    }
    DISPID got = 0;
    EXPECT_EQ(com::GetDispId(disp.get(), "Command2", &got), DISP_E_UNKNOWNNAME);
  }
}

TEST_F(ControlsTest, SetAppTakesOnlyTheApplication) {
  Register();
  CComPtr<IorvaloSnd> snd;
  CComPtr<IDispatch> rcv;
  ASSERT_EQ(snd.CoCreateInstance(CLSID_orvaloSnd), S_OK);
  ASSERT_EQ(rcv.CoCreateInstance(CLSID_orvaloRcv), S_OK);
  EXPECT_EQ(snd->SetApp(nullptr), E_FAIL);
  EXPECT_EQ(snd->SetApp(rcv.get()), E_FAIL);  // an object, but no application
  EXPECT_EQ(com::CallMethod(rcv.get(), "SetApp", {CComVariant(static_cast<IUnknown*>(nullptr))}),
            E_FAIL);
  EXPECT_EQ(com::CallMethod(rcv.get(), "SetApp", {CComVariant(static_cast<IUnknown*>(snd.get()))}),
            E_FAIL);
  CComPtr<_Application> app;
  ASSERT_EQ(host::CreateApplication(app.Out()), S_OK);
  EXPECT_EQ(snd->SetApp(app.get()), S_OK);
  EXPECT_EQ(com::CallMethod(rcv.get(), "SetApp", {CComVariant(static_cast<IUnknown*>(app.get()))}),
            S_OK);
  EXPECT_EQ(snd->Terminate(), S_OK);  // lets go of the application again
}

TEST_F(ControlsTest, CommandsReachThePresenterLateBound) {
  Register();
  CComPtr<IDispatch> snd;
  ASSERT_EQ(snd.CoCreateInstance(std::string_view(kOrvaloSndViProgId)), S_OK);
  struct Case {
    std::string command;
    HRESULT hr;
  };
  const Case cases[] = {
      {"gotoslide~7", S_OK},  // no stream: only the presenter's state moves
      {"setscreen~3", S_OK}, {"", S_OK},
      {"gotoslide", E_FAIL}, {"gotoslide~" + std::string(246, '0'), E_FAIL},  // 256 characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(com::CallMethod(snd.get(), "Command", {CComVariant(c.command)}), c.hr) << c.command;
  }
}

TEST_F(ControlsTest, ModuleCanUnloadOnlyWithoutObjectsOrLocks) {
  Register();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  {
    CComPtr<IorvaloRcv> rcv;
    ASSERT_EQ(rcv.CoCreateInstance(CLSID_orvaloRcv), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
  IClassFactory* pFactory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_orvaloSnd, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&pFactory)),
            S_OK);
  EXPECT_EQ(pFactory->LockServer(TRUE), S_OK);
  pFactory->Release();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the factory is gone, its lock is not
  ASSERT_EQ(CoGetClassObject(CLSID_orvaloSnd, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&pFactory)),
            S_OK);
  EXPECT_EQ(pFactory->LockServer(FALSE), S_OK);
  pFactory->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ControlsTest, ACancelledMasterReceiveIsSFalseOrTheFlag) {
  Register();
  ASSERT_EQ(com::CallServerExport(PELAGO_SO_PATH, "DllRegisterServer"), S_OK);
  auto observer = std::make_shared<CCancellingObserver>();
  ui::SetUiObserver(observer);
  CComPtr<IorvaloRcv> rcv;
  ASSERT_EQ(rcv.CoCreateInstance(CLSID_orvaloRcv), S_OK);
  const CComBSTR group("239.255.43.1");
  EXPECT_EQ(rcv->Pelago(group, 47301), S_FALSE);
  LONG fAbort = 0;
  EXPECT_EQ(rcv->DoPelagoRcv(group, 47301, &fAbort), S_OK);
  EXPECT_EQ(fAbort, 1);
  // Late-bound the flag is the result.
  CComVariant result;
  EXPECT_EQ(com::CallMethod(rcv.get(), "DoPelagoRcv",
                            {CComVariant("239.255.43.1"), CComVariant(LONG{47301})}, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 1);
  EXPECT_EQ(rcv->DoPelagoRcv(group, 47301, nullptr), E_FAIL);
  EXPECT_TRUE(observer->Boxes().empty());
  EXPECT_EQ(rcv->Terminate(), S_OK);
}

TEST(ControlDrawingTest, EachControlFramesItsBoundsAndCentresItsName) {
  struct Case {
    const char* szText;
    void (*draw)(ui::CSurface*, const RECT&);
  };
  const Case cases[] = {
      {"ATL 3.0 : orvaloSnd",
       [](ui::CSurface* p, const RECT& rc) {
         auto* snd = new CorvaloSnd;
         snd->AddRef();
         snd->OnDraw(p, rc);
         snd->Release();
       }},
      {"ATL 3.0 : orvaloRcv",
       [](ui::CSurface* p, const RECT& rc) {
         auto* rcv = new CorvaloRcv;
         rcv->AddRef();
         rcv->OnDraw(p, rc);
         rcv->Release();
       }},
  };
  for (const Case& c : cases) {
    ui::CSurface surface;
    const RECT bounds{10, 20, 310, 120};
    c.draw(&surface, bounds);
    ASSERT_EQ(surface.Ops().size(), 2u) << c.szText;
    EXPECT_EQ(surface.Ops()[0].kind, ui::CSurface::OpKind::kRectangle);
    EXPECT_EQ(surface.Ops()[0].rect.left, 10);
    EXPECT_EQ(surface.Ops()[0].rect.bottom, 120);
    const ui::CSurface::tOp& text = surface.Ops()[1];
    EXPECT_EQ(text.kind, ui::CSurface::OpKind::kText);
    EXPECT_EQ(text.text, c.szText);
    // Centred: equal margins on both sides, one line high.
    EXPECT_EQ(text.rect.left - bounds.left, bounds.right - text.rect.right) << c.szText;
    EXPECT_EQ(text.rect.bottom - text.rect.top, ui::kDialogBaseUnitY);
    EXPECT_LE(std::abs((text.rect.top - bounds.top) - (bounds.bottom - text.rect.bottom)), 1);
  }
}

}  // namespace
