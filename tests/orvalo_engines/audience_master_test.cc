// The audience engine's master receive under its dialog, against a scripted
// carousel object: completion, the user's cancel, errors that end it and one
// that the carousel mends, the progress of large masters, and opening the
// received master at Init.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mcast/Multicast.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/COA.h"
#include "orvalo/DialogResources.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/TempFiles.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "tests/mcast/TestGroup.h"
#include "tests/orvalo_bridge/PptThread.h"
#include "tests/orvalo_engines/FakeCOA.h"
#include "tests/orvalo_engines/FakePelago.h"
#include "tests/orvalo_engines/SlidePackets.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"
#include "ui/Dialog.h"
#include "ui/Message.h"
#include "ui/UiObserver.h"

namespace {

using engines_test::CFakePelagoRcv;
using engines_test::tPelagoEvent;

// Records message boxes and the master dialog's progress; presses Cancel on
// the dialog when asked to.
class Observer : public ui::CUiObserver {
 public:
  int OnMessageBox(HWND, const std::string& text, const std::string& caption, UINT) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back(caption + "|" + text);
    return IDOK;
  }
  void OnDialogShown(HWND hDlg) override {
    if (m_fCancel) ui::ClickDlgButton(hDlg, IDCANCEL);
  }
  void OnDialogChanged(HWND hDlg) override {
    HWND hBar = GetDlgItem(hDlg, IDC_MASTERPROGRESS);
    if (hBar == nullptr) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_positions.push_back(static_cast<int>(SendMessage(hBar, PBM_GETPOS, 0, 0)));
  }
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
  }
  int LastPosition() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_positions.empty() ? -1 : m_positions.back();
  }
  bool m_fCancel = false;  // set before the dialog shows

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_boxes;  // guarded by m_mutex
  std::vector<int> m_positions;      // guarded by m_mutex
};

class AudienceMasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    fake_coa::Reset();
    m_pObserver = std::make_shared<Observer>();
    ui::SetUiObserver(m_pObserver);
  }
  void TearDown() override {
    m_audience.Disconnect();
    ui::SetUiObserver(nullptr);
    CMulticast::SetInterfaceForTesting(nullptr);
    // Nothing of the receive may stay behind on this thread.
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  int Receive(long* pfAbort) { return m_audience.DoPelagoRcv("239.9.9.9", 5000, 0, pfAbort); }

  ScopedTmpDir m_tmp;
  CFakePelagoRcv m_rcv;
  CAudienceMember m_audience{m_rcv.Factory()};
  std::shared_ptr<Observer> m_pObserver;
};

TEST_F(AudienceMasterTest, ReceivesTheMasterIntoTheTemporaryFolder) {
  m_rcv.Script(
      {{.nType = PELAGORE_FILE_START, .nFileLen = 4096},
       {.nType = PELAGORE_CONTINUE},
       {.nType = PELAGORE_FILE_COMPLETE, .nFileLen = 4096, .sFileName = "_OV_Mast.ppt.cab"}});
  m_rcv.SetStats(4, 1024);
  long fAbort = -1;
  EXPECT_EQ(Receive(&fAbort), 0);
  EXPECT_EQ(fAbort, 0);
  EXPECT_TRUE(m_audience.HaveMaster());
  EXPECT_EQ(m_rcv.m_sAddr, "239.9.9.9");
  EXPECT_EQ(m_rcv.m_nPort, 5000);
  EXPECT_EQ(m_rcv.m_sSaveDir, m_tmp.path());
  EXPECT_EQ(m_rcv.m_nStarts, 1);
  EXPECT_EQ(m_rcv.m_nStops, 1);
  EXPECT_EQ(m_pObserver->LastPosition(), 100);
  EXPECT_TRUE(m_pObserver->Boxes().empty());
}

TEST_F(AudienceMasterTest, CancelReturnsZeroWithTheAbortFlag) {
  m_pObserver->m_fCancel = true;
  long fAbort = -1;
  EXPECT_EQ(Receive(&fAbort), 0);
  EXPECT_EQ(fAbort, 1);
  EXPECT_FALSE(m_audience.HaveMaster());
  EXPECT_EQ(m_rcv.m_nStops, 1);
}

TEST_F(AudienceMasterTest, ErrorsTheCarouselCannotMendEndTheReceive) {
  struct {
    std::vector<tPelagoEvent> events;
    int nResult;
    std::vector<std::string> boxes;
  } const cases[] = {
      {{{.nType = PELAGORE_ERROR, .nError = 112}}, -1, {"orvalo|Pelago error: 112\n"}},
      {{{.nType = PELAGORE_FATAL_ERROR, .nError = 1068}}, -1, {"orvalo|Pelago error: 1068\n"}},
      {{{.nType = 99}}, -1, {}},
      // A file that fails its check comes again in a later round.
      {{{.nType = PELAGORE_FILE_START, .nFileLen = 100},
        {.nType = PELAGORE_ERROR, .nError = 1392},
        {.nType = PELAGORE_FILE_START, .nFileLen = 100},
        {.nType = PELAGORE_FILE_COMPLETE, .sFileName = "x"}},
       0,
       {}},
      {{{.nType = PELAGORE_SESSION}, {.nType = PELAGORE_TERMINATION}, {.nType = PELAGORE_COMPLETE}},
       0,
       {}},
  };
  for (const auto& c : cases) {
    m_pObserver = std::make_shared<Observer>();
    ui::SetUiObserver(m_pObserver);
    m_rcv.Script(c.events);
    long fAbort = -1;
    EXPECT_EQ(Receive(&fAbort), c.nResult) << c.events[0].nType;
    EXPECT_EQ(fAbort, 0);
    EXPECT_EQ(m_audience.HaveMaster(), c.nResult == 0);
    EXPECT_EQ(m_pObserver->Boxes(), c.boxes) << c.events[0].nType;
  }
}

TEST_F(AudienceMasterTest, ProgressOfLargeMastersStaysRightAndWithinRange) {
  constexpr LONG kMiB = 1 << 20;
  struct {
    LONG nFileLen, nRecvd;
    int nPercent;
  } const cases[] = {
      {30 * kMiB, 25 * 1024, 83},    // 25 MiB of 30: the product passes 2^31
      {200 * kMiB, 100 * 1024, 50},  // passes 2^32 too
      {30 * kMiB, 40 * 1024, 100},   // more packets than the file (redundant ones)
  };
  for (const auto& c : cases) {
    m_rcv.Script(
        {{.nType = PELAGORE_FILE_START, .nFileLen = c.nFileLen}, {.nType = PELAGORE_COMPLETE}});
    m_rcv.SetStats(c.nRecvd, 1024);
    long fAbort = -1;
    ASSERT_EQ(Receive(&fAbort), 0);
    EXPECT_EQ(m_pObserver->LastPosition(), c.nPercent) << c.nFileLen << " " << c.nRecvd;
  }
}

TEST_F(AudienceMasterTest, ACarouselObjectThatCannotStartFails) {
  m_rcv.m_hrInit = E_FAIL;
  long fAbort = -1;
  EXPECT_EQ(Receive(&fAbort), -1);
  EXPECT_EQ(m_rcv.m_nStarts, 0);
  EXPECT_EQ(m_rcv.Refs(), 0);  // released at once

  CAudienceMember noCarousel([](com::CComPtr<IPelagoRcv>*) { return E_FAIL; });
  platform::ScopedDebugCapture trace;
  EXPECT_EQ(noCarousel.DoPelagoRcv("239.9.9.9", 5000, 0, &fAbort), -1);
  EXPECT_NE(trace.Text().find("Can't CoCreate PelagoRcv\n"), std::string::npos);
}

// A stop message taken by the receive's own loop disconnects the engine,
// which lets the carousel object go under the loop's feet.
TEST_F(AudienceMasterTest, AStopDuringTheReceiveEndsIt) {
  HWND hFrame = bridgetest::CreateFrame("Master");
  ASSERT_TRUE(g_PPTMsgComm.Init(hFrame, &m_audience));
  ASSERT_TRUE(g_PPTMsgComm.PostStop());
  long fAbort = -1;
  EXPECT_EQ(Receive(&fAbort), -1);
  EXPECT_EQ(fake_coa::CallsStartingWith("Cleanup").size(), 1u);
  {
    // The bridge forgets an engine that is gone.
    CAudienceMember gone;
    ASSERT_TRUE(g_PPTMsgComm.Init(hFrame, &gone));
  }
  EXPECT_EQ(g_PPTMsgComm.OnMessage(CPPTMsgComm::kStop, 0), 1);
  EXPECT_EQ(fake_coa::CallsStartingWith("Cleanup").size(), 2u);  // gone's own, no more
  DestroyWindow(hFrame);
}

TEST_F(AudienceMasterTest, InitOpensTheReceivedMasterAndDisconnectDeletesIt) {
  m_rcv.Script({{.nType = PELAGORE_COMPLETE}});
  long fAbort = -1;
  ASSERT_EQ(Receive(&fAbort), 0);
  engines_test::MakeMasterCabinet("the master");
  const mcast_test::TestGroup group = mcast_test::NextTestGroup();
  ASSERT_TRUE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "", "", "", ""));
  EXPECT_EQ(fake_coa::CallsStartingWith("OpenMaster"),
            std::vector<std::string>{"OpenMaster the master"});
  char szMaster[MAX_PATH + 1], szCab[MAX_PATH + 1];
  MasterFileName(szMaster);
  MasterCabName(szCab);
  EXPECT_FALSE(platform::FileExists(szMaster));  // the extracted copy goes at once
  EXPECT_TRUE(platform::FileExists(szCab));
  m_audience.Disconnect();
  EXPECT_FALSE(platform::FileExists(szCab));
  EXPECT_FALSE(m_audience.HaveMaster());
}

TEST_F(AudienceMasterTest, InitFailsWhenTheMasterCannotBeOpened) {
  const mcast_test::TestGroup group = mcast_test::NextTestGroup();
  long fAbort = -1;
  // No cabinet arrived after all.
  m_rcv.Script({{.nType = PELAGORE_COMPLETE}});
  ASSERT_EQ(Receive(&fAbort), 0);
  EXPECT_FALSE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "", "", "", ""));
  EXPECT_FALSE(m_audience.IsConnected());
  // The application refuses it.
  fake_coa::Reset(COA_E_PPTCALL);
  m_rcv.Script({{.nType = PELAGORE_COMPLETE}});
  ASSERT_EQ(Receive(&fAbort), 0);
  engines_test::MakeMasterCabinet("bad");
  EXPECT_FALSE(m_audience.Init(group.sAddr.c_str(), group.wPort, 1, 0, "", "", "", ""));
  EXPECT_FALSE(m_audience.IsConnected());
  EXPECT_FALSE(m_audience.HaveMaster());
}

}  // namespace
