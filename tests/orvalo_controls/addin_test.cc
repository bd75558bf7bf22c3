// The macro add-ins inside the presentation application, driving recording
// stand-ins of the controls: their call order, the commands the user's
// actions become, and what they report when they cannot go on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "com/Registration.h"
#include "host/HostApplication.h"
#include "orvalo/addins/AddinSettings.h"
#include "orvalo/orvaloCom.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/host/HostFixture.h"
#include "tests/orvalo_controls/BoxObserver.h"
#include "tests/orvalo_controls/FakeControls.h"
#include "ui/UiObserver.h"

namespace {

using controlstest::CBoxObserver;

struct tSettings {
  bool fMaxRate = true;
  DWORD dwMaxRate = 800;
};

class AddinTest : public hosttest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    setenv("ORVALO_REGISTRY", Path("registry.db").c_str(), 1);
    static HMODULE hFake = LoadLibrary(FAKE_CONTROLS_PATH);  // one log for the whole run
    ASSERT_NE(hFake, nullptr);
    m_pfnReset =
        reinterpret_cast<PFN_FakeControlsReset>(GetProcAddress(hFake, "FakeControlsReset"));
    m_pfnLog = reinterpret_cast<PFN_FakeControlsLog>(GetProcAddress(hFake, "FakeControlsLog"));
    m_pfnReset(nullptr, 0);
    m_observer = std::make_shared<CBoxObserver>();
    ui::SetUiObserver(m_observer);
  }
  void TearDown() override {
    host::ShutdownAddins();
    ui::SetUiObserver(nullptr);
    HostTest::TearDown();
    unsetenv("ORVALO_REGISTRY");
  }

  static void RegisterFakes() {
    struct Control {
      CLSID clsid;
      const char* szProgId;
      const char* szViProgId;
    };
    for (const Control& c : {Control{CLSID_orvaloSnd, kOrvaloSndProgId, kOrvaloSndViProgId},
                             Control{CLSID_orvaloRcv, kOrvaloRcvProgId, kOrvaloRcvViProgId}}) {
      com::CoClassRegistration reg{};
      reg.clsid = c.clsid;
      reg.description = "fake control";
      reg.progId = c.szProgId;
      reg.versionIndependentProgId = c.szViProgId;
      ASSERT_EQ(com::RegisterCoClass(reg, FAKE_CONTROLS_PATH), S_OK);
    }
  }
  static void WriteSettings(const tSettings& s) {
    platform::RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, orvalo::kOrvaloSettingsKey), ERROR_SUCCESS);
    auto dword = [&](const char* szName, DWORD dw) {
      ASSERT_EQ(RegSetValueEx(key.get(), szName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw),
                              sizeof dw),
                ERROR_SUCCESS);
    };
    ASSERT_EQ(key.SetString("MasterIPAddress", "224.1.2.3"), ERROR_SUCCESS);
    dword("MasterPort", 5000);
    ASSERT_EQ(key.SetString("IPAddress", "224.1.2.4"), ERROR_SUCCESS);
    dword("Port", 5001);
    dword("TTL", 2);
    if (s.fMaxRate) dword("MaxRate", s.dwMaxRate);
  }
  // Starts the add-in at `path` in the application, with a three-slide
  // presentation open.
  void Start(const char* szPath) {
    m_pres = Open(MakeFile("talk.ppt", 3));
    ASSERT_EQ(host::LoadAddin(szPath), S_OK);
    host::StartAddins();
    PumpMessages();
  }
  void Act(const char* szLine) {
    host::UserCommand cmd;
    std::string error;
    ASSERT_TRUE(host::ParseUserCommand(szLine, &cmd, &error)) << error;
    host::PerformUserAction(cmd);
    PumpMessages();
  }
  std::string Log() const { return m_pfnLog(); }

  PFN_FakeControlsReset m_pfnReset = nullptr;
  PFN_FakeControlsLog m_pfnLog = nullptr;
  std::shared_ptr<CBoxObserver> m_observer;
  com::CComPtr<_Presentation> m_pres;
};

TEST_F(AddinTest, PresenterSetsTheControlUpInOrderAndForwardsTheShow) {
  RegisterFakes();
  WriteSettings({});
  Start(ORVALO_PRES_PATH);
  // The presentation is tagged for SetSlideShowWindow and its show runs.
  com::CComPtr<Tags> tags;
  ASSERT_EQ(m_pres->get_Tags(tags.Out()), S_OK);
  com::CComBSTR value;
  ASSERT_EQ(tags->Item(com::CComBSTR("ReriRudo"), value.Out()), S_OK);
  EXPECT_EQ(value.ToUtf8(), "1");
  EXPECT_TRUE(host::GetShowView().fShowing);
  // Slide 1 has one step, slide 2 two.
  for (const char* szAction :
       {"next", "next", "goto 3", "black", "white", "resume", "erase", "previous", "end"})
    Act(szAction);
  host::ShutdownAddins();
  EXPECT_EQ(Log(),
            "Snd.SetApp(app)\n"
            "Snd.SetSlideShowWindow()\n"
            "Snd.Init()\n"
            "Snd.AddStream(224.1.2.3,5000,224.1.2.4,5001,2,100000)\n"
            "Snd.InstallTracker()\n"
            "Snd.Command(gotoslide~1)\n"
            "Snd.Command(setscreen~0)\n"
            "Snd.Command(step~1~1)\n"
            "Snd.Command(gotoslide~2)\n"
            "Snd.Command(gotoslide~3)\n"
            "Snd.Command(setscreen~3)\n"
            "Snd.Command(setscreen~2)\n"
            "Snd.Command(setscreen~0)\n"
            "Snd.Command(setscreen~1)\n"
            "Snd.Command(gotoslide~2)\n"
            "Snd.Command(exitshow)\n"
            "Snd.Terminate()\n");
  EXPECT_TRUE(m_observer->Boxes().empty());
}

TEST_F(AddinTest, ViewerReceivesTheMasterThenJoinsTheLiveStream) {
  RegisterFakes();
  WriteSettings({.fMaxRate = false});
  Start(ORVALO_VIEW_PATH);
  Act("next");  // the viewer forwards nothing
  host::ShutdownAddins();
  EXPECT_EQ(Log(),
            "Rcv.SetApp(app)\n"
            "Rcv.DoPelagoRcv(224.1.2.3,5000)\n"
            "Rcv.Init(224.1.2.4,5001,2,0,,,,)\n"
            "Rcv.Terminate()\n");
}

TEST_F(AddinTest, ViewerStopsWhenTheMasterReceiveIsCancelled) {
  RegisterFakes();
  WriteSettings({});
  m_pfnReset(nullptr, 1);
  testing::internal::CaptureStderr();
  Start(ORVALO_VIEW_PATH);
  host::ShutdownAddins();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Log(), "Rcv.SetApp(app)\nRcv.DoPelagoRcv(224.1.2.3,5000)\nRcv.Terminate()\n");
  EXPECT_NE(err.find("orvaloView: the slide master was not received: cancelled\n"),
            std::string::npos)
      << err;
}

TEST_F(AddinTest, WhatAnAddinCannotDoIsOneLineAndABox) {
  struct Case {
    const char* szName;
    bool fRegister;
    bool fSettings;
    const char* szFail;  // the control's method that fails
    const char* szPath;
    std::string log;
    const char* szLine;  // in standard error
  };
  const Case cases[] = {
      {"no settings", true, false, nullptr, ORVALO_PRES_PATH, "",
       "orvaloPres: no settings under HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Orvalo"},
      {"not registered", false, true, nullptr, ORVALO_VIEW_PATH, "",
       "orvaloView: cannot create the control Orvalo.orvaloRcv (0x800401F3): orvalo.so is not "
       "registered"},
      {"Init fails", true, true, "Init", ORVALO_PRES_PATH,
       "Snd.SetApp(app)\nSnd.SetSlideShowWindow()\nSnd.Init()\nSnd.Terminate()\n",
       "orvaloPres: Orvalo.orvaloSnd.Init failed (0x80004005)"},
      {"master receive fails", true, true, "DoPelagoRcv", ORVALO_VIEW_PATH,
       "Rcv.SetApp(app)\nRcv.DoPelagoRcv(224.1.2.3,5000)\nRcv.Terminate()\n",
       "orvaloView: Orvalo.orvaloRcv.DoPelagoRcv failed (0x80004005)"},
  };
  m_pres = Open(MakeFile("talk.ppt", 3));
  int nCase = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.szName);
    setenv("ORVALO_REGISTRY", Path("registry" + std::to_string(++nCase) + ".db").c_str(), 1);
    m_pfnReset(c.szFail, 0);
    m_observer = std::make_shared<CBoxObserver>();
    ui::SetUiObserver(m_observer);
    if (c.fRegister) RegisterFakes();
    if (c.fSettings) WriteSettings({});
    testing::internal::CaptureStderr();
    ASSERT_EQ(host::LoadAddin(c.szPath), S_OK);
    host::StartAddins();
    PumpMessages();
    Act("next");  // nothing goes to a control that is not set up
    host::ShutdownAddins();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Log(), c.log);
    EXPECT_NE(err.find(c.szLine), std::string::npos) << err;
    EXPECT_EQ(m_observer->Boxes().size(), 1u);
  }
}

TEST(AddinSettingsTest, TheSendRateComesFromMaxRateInKilobits) {
  struct Case {
    bool fHave;
    DWORD dwKbps;
    LONG nBytesPerSec;
  };
  for (const Case& c : {Case{true, 800, 100000}, Case{false, 0, 125000}, Case{true, 0, 125000},
                        Case{true, 0xFFFFFFFFu, 0x7FFFFFFF}}) {
    orvalo::tOrvaloSettings s;
    s.fHaveMaxRate = c.fHave;
    s.dwMaxRateKbps = c.dwKbps;
    EXPECT_EQ(orvalo::BytesPerSecond(s), c.nBytesPerSec) << c.dwKbps;
  }
}

}  // namespace
