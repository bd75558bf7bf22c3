// A short show from a presenter engine to an audience engine in one
// process: the presenter's datagrams are relayed unchanged from a second
// loopback source (a port on this host takes 127.0.0.1 for its own), and
// this thread plays PowerPoint's for both sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "korin/KORINsender.h"
#include "mcast/Multicast.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/Presenter.h"
#include "orvalo/Request.h"
#include "tests/korin_sender/RawPeer.h"
#include "tests/mcast/TestGroup.h"
#include "tests/orvalo_bridge/PptThread.h"
#include "tests/orvalo_engines/FakeCOA.h"
#include "tests/orvalo_engines/FakePelago.h"
#include "tests/orvalo_engines/ForeignSender.h"
#include "tests/orvalo_engines/SlidePackets.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"
#include "ui/Message.h"

namespace {

using Calls = std::vector<std::string>;

class EngineShowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    CKORINsender::SetLoopbackForTesting(TRUE);
    fake_coa::Reset();
  }
  void TearDown() override {
    CKORINsender::SetLoopbackForTesting(FALSE);
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  // Dispatches this thread's messages until `done` holds; false after about
  // 30 s without it.
  static bool PumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
      if (done()) return true;
      Sleep(10);
    }
    return false;
  }
  static bool Called(const std::string& sCall) {
    Calls calls = fake_coa::Calls();
    return std::find(calls.begin(), calls.end(), sCall) != calls.end();
  }

  ScopedTmpDir m_tmp;
};

TEST_F(EngineShowTest, TheAudienceFollowsTheShow) {
  const std::string slide1(5000, '1'), slide2 = "second slide", slide3(2500, '3');
  engines_test::MakeSlideCabinet(1, slide1);
  engines_test::MakeSlideCabinet(2, slide2);
  engines_test::MakeSlideCabinet(3, slide3);

  const mcast_test::TestGroup live = mcast_test::NextTestGroup();
  const mcast_test::TestGroup relayed = mcast_test::NextTestGroup();
  HWND hFrame = bridgetest::CreateFrame("Show");
  CAudienceMember audience;
  ASSERT_TRUE(g_PPTMsgComm.Init(hFrame, &audience));
  ASSERT_TRUE(audience.Init(relayed.sAddr.c_str(), relayed.wPort, 1, 0, "", "", "", ""));

  korin_test::RawPeer wire;
  ASSERT_TRUE(wire.Open(live.sAddr.c_str(), live.wPort, TRUE));
  engines_test::CForeignSender relay(relayed.sAddr, relayed.wPort);
  ASSERT_TRUE(relay.Ok());
  std::atomic<bool> fStop{false};
  std::thread relayThread([&] {
    while (!fStop) {
      if (std::optional<korin_test::DataPacket> p = wire.NextData(1)) relay.SendRaw(p->bytes);
    }
  });

  engines_test::CFakePelagoSnd pelago;
  CPresenter presenter(pelago.Factory());
  ASSERT_TRUE(presenter.AddStream("239.8.8.8", 5001, live.sAddr.c_str(), live.wPort, 1, 500000, 4));
  ASSERT_TRUE(presenter.Goto(1));
  ASSERT_TRUE(presenter.Step(1, 1));
  EXPECT_TRUE(PumpUntil([] { return Called("GoTo 1 1"); }));
  ASSERT_TRUE(presenter.SetScreen(2));
  ASSERT_TRUE(presenter.Goto(2));
  CPtsRequest stroke;
  stroke.SetColor(0x0000FF);
  for (float x : {1.0f, 2.0f, 3.0f}) stroke.AddPoint(x, 10.0f);
  ASSERT_TRUE(presenter.SendPoints(&stroke));
  EXPECT_TRUE(PumpUntil([] { return !fake_coa::CallsStartingWith("DrawPoints").empty(); }));
  ASSERT_TRUE(presenter.End());
  EXPECT_TRUE(PumpUntil([] { return Called("Quit"); }));

  fStop = true;
  relayThread.join();
  presenter.Disconnect();
  audience.Disconnect();
  DestroyWindow(hFrame);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }

  // Every slide sent (the third went ahead) arrived whole, once.
  std::vector<std::pair<DWORD, std::string>> inserted;
  for (const fake_coa::tInserted& i : fake_coa::Inserted())
    inserted.emplace_back(i.dwSlide, i.sBytes);
  std::sort(inserted.begin(), inserted.end());
  EXPECT_EQ(inserted,
            (std::vector<std::pair<DWORD, std::string>>{{1, slide1}, {2, slide2}, {3, slide3}}));
  // The audience moved as the presenter did, in order, and ended with him.
  Calls moves;
  for (const std::string& s : fake_coa::Calls()) {
    if (s.rfind("GoTo", 0) == 0 || s.rfind("SetScreen", 0) == 0 || s.rfind("DrawPoints", 0) == 0 ||
        s == "Quit") {
      moves.push_back(s);
    }
  }
  EXPECT_EQ(moves, (Calls{"GoTo 1 0", "GoTo 1 1", "SetScreen 2", "GoTo 2 0",
                          "DrawPoints 255 1,10 2,10 3,10", "Quit"}));
}

}  // namespace
