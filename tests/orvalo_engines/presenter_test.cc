// The presenter engine on this host: its channels' real epoch senders are
// heard on loopback by a raw Korin peer, their master carousels are
// recording stand-ins.
#include "orvalo/Presenter.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korin/KORINsender.h"
#include "mcast/Multicast.h"
#include "orvalo/PresenterChannel.h"
#include "orvalo/ProgressDialog.h"
#include "orvalo/Request.h"
#include "platform/DebugOutput.h"
#include "tests/korin_sender/RawPeer.h"
#include "tests/mcast/TestGroup.h"
#include "tests/orvalo_engines/FakeCOA.h"
#include "tests/orvalo_engines/FakePelago.h"
#include "tests/orvalo_engines/SlidePackets.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

using engines_test::CFakePelagoSnd;
using korin_test::DataPacket;
using Calls = std::vector<std::string>;

// One slide-protocol packet as heard on the wire.
struct tHeard {
  BOOL fReliable;
  DWORD dwType;
  tSlideInfo state;
  BOOL fFirst, fMore;
  DWORD dwFileSlide;  // type 3
  DWORD dwDataLen;    // type 3
  DWORD dwPoints;     // type 1
};

tHeard Decode(const DataPacket& packet) {
  tHeard h{};
  h.fReliable = packet.header.fReliable;
  if (packet.payload.size() < tPacketHeader::kSize) return h;
  const tPacketHeader* pHeader = tPacketHeader::Of(packet.payload.data());
  h.dwType = pHeader->GetType();
  UnpackSlideInfo(*pHeader, &h.state);
  h.fFirst = pHeader->IsFirst();
  h.fMore = pHeader->IsMore();
  if (h.dwType == orvalo::kPacketTypeFileData && packet.payload.size() > 40) {
    h.dwFileSlide = tSlidePacketHeader::Of(packet.payload.data())->GetFileSlide();
    h.dwDataLen = static_cast<DWORD>(packet.payload.size() - 40);
  }
  if (h.dwType == orvalo::kPacketTypePoints && packet.payload.size() >= 44) {
    h.dwPoints = (static_cast<DWORD>(packet.payload.size()) - 44) / 8;
  }
  return h;
}

class PresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    CKORINsender::SetLoopbackForTesting(TRUE);
    fake_coa::Reset();
    m_group = mcast_test::NextTestGroup();
  }
  void TearDown() override {
    m_pPresenter.reset();
    CKORINsender::SetLoopbackForTesting(FALSE);
    CMulticast::SetInterfaceForTesting(nullptr);
    MSG msg;  // the progress dialogs' posts to this thread
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  BOOL AddStream(const char* szLiveAddr) {
    return m_pPresenter->AddStream("239.8.8.8", 5001, szLiveAddr, m_group.wPort, 1, 125000, 4);
  }
  void Connect() {
    ASSERT_TRUE(m_peer.Open(m_group.sAddr.c_str(), m_group.wPort, TRUE));
    ASSERT_TRUE(AddStream(m_group.sAddr.c_str()));
  }
  CPresenterChannel* Channel() { return m_pPresenter->GetChannel(0); }

  // Reads packets until `done` says the one just heard was the last wanted;
  // returns all heard. Fails the test if the wire stays silent too long.
  std::vector<tHeard> HearUntil(const std::function<bool(const tHeard&)>& done) {
    std::vector<tHeard> heard;
    for (;;) {
      std::optional<DataPacket> packet = m_peer.NextData(20);
      if (!packet) {
        ADD_FAILURE() << "the wire went silent";
        return heard;
      }
      heard.push_back(Decode(*packet));
      if (done(heard.back())) return heard;
    }
  }
  // The slide files heard, in order, one entry per packet.
  static std::vector<DWORD> FileSlides(const std::vector<tHeard>& heard) {
    std::vector<DWORD> slides;
    for (const tHeard& h : heard) {
      if (h.dwType == orvalo::kPacketTypeFileData) slides.push_back(h.dwFileSlide);
    }
    return slides;
  }
  static std::function<bool(const tHeard&)> LastPacketOf(DWORD dwSlide) {
    return [dwSlide](const tHeard& h) {
      return h.dwType == orvalo::kPacketTypeFileData && h.dwFileSlide == dwSlide && !h.fMore;
    };
  }

  ScopedTmpDir m_tmp;
  mcast_test::TestGroup m_group;
  korin_test::RawPeer m_peer;
  CFakePelagoSnd m_pelago;
  std::unique_ptr<CPresenter> m_pPresenter = std::make_unique<CPresenter>(m_pelago.Factory());
};

TEST_F(PresenterTest, LiveAddressMustBeAGroupBeforeAnythingIsMade) {
  struct {
    const char* szAddr;
    BOOL fOk;
  } const cases[] = {
      {"239.255.255.255", TRUE},
      {"224.0.0.0", TRUE},
      {"240.0.0.1", FALSE},
      {"223.255.255.255", FALSE},
      {"10.1.1.1", FALSE},
      {"239.1.1", FALSE},
      {"", FALSE},
  };
  int nChannels = 0;
  for (const auto& c : cases) {
    const int nCreated = m_pelago.m_nCreated.load();
    EXPECT_EQ(AddStream(c.szAddr), c.fOk != FALSE) << c.szAddr;
    EXPECT_EQ(m_pelago.m_nCreated.load(), nCreated + (c.fOk ? 1 : 0)) << c.szAddr;
    if (c.fOk) ++nChannels;
    EXPECT_EQ(m_pPresenter->GetChannelCount(), nChannels);
  }
  const std::string sCab = m_tmp.path() + "_OV_Mast.ppt.cab";
  EXPECT_EQ(m_pelago.Calls(), (Calls{"Init 239.8.8.8 5001 1 125000", "Start " + sCab,
                                     "Init 239.8.8.8 5001 1 125000", "Start " + sCab}));
}

TEST_F(PresenterTest, ACarouselThatFailsLeavesNoChannel) {
  platform::ScopedDebugCapture trace;
  m_pelago.m_hrInit = E_FAIL;
  EXPECT_FALSE(AddStream(m_group.sAddr.c_str()));
  m_pelago.m_hrInit = S_OK;
  m_pelago.m_hrStart = E_FAIL;
  EXPECT_FALSE(AddStream(m_group.sAddr.c_str()));
  EXPECT_EQ(m_pPresenter->GetChannelCount(), 0);
  EXPECT_EQ(m_pelago.Refs(), 0);
  EXPECT_NE(trace.Text().find("***pelago init failed\n"), std::string::npos);
  EXPECT_NE(trace.Text().find("***StartPelagoSend failed\n"), std::string::npos);

  CPresenter noCarousel([](com::CComPtr<IPelagoSnd>*) { return E_FAIL; });
  EXPECT_FALSE(
      noCarousel.AddStream("239.8.8.8", 5001, m_group.sAddr.c_str(), m_group.wPort, 1, 125000, 4));
  EXPECT_NE(trace.Text().find("Can't CoCreate PelagoSnd\n"), std::string::npos);
}

TEST_F(PresenterTest, SixtyFifthStreamIsRefused) {
  for (int i = 0; i < kMaxPresenterChannels; ++i)
    ASSERT_TRUE(AddStream(m_group.sAddr.c_str())) << i;
  EXPECT_FALSE(AddStream(m_group.sAddr.c_str()));
  EXPECT_EQ(m_pPresenter->GetChannelCount(), kMaxPresenterChannels);
  m_pPresenter->Disconnect();
  EXPECT_EQ(m_pPresenter->GetChannelCount(), 0);
  EXPECT_EQ(m_pelago.Refs(), 0);
}

TEST_F(PresenterTest, SlideChangesQueueTheSlideAndTheNextOneAhead) {
  for (DWORD n : {3u, 4u, 5u, 7u}) {
    engines_test::MakeSlideCabinet(n, std::string(3000 + n, static_cast<char>('a' + n)));
  }
  Connect();
  EXPECT_EQ(Channel()->GetEpoch(), 63u);

  ASSERT_TRUE(m_pPresenter->Goto(3));
  std::vector<tHeard> heard = HearUntil(LastPacketOf(4));
  std::vector<DWORD> files = FileSlides(heard);
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.front(), 3u);
  EXPECT_EQ(files.back(), 4u);
  EXPECT_TRUE(std::is_sorted(files.begin(), files.end()));
  for (const tHeard& h : heard) {
    if (h.dwType == orvalo::kPacketTypeFileData) {
      EXPECT_TRUE(h.fReliable);
      EXPECT_EQ(h.state.dwSlide, 3u);
    }
  }
  EXPECT_EQ(m_pPresenter->GetNextSlide(), 4u);
  // A jump (+2), then the next slide's data opened an epoch with 3 valid.
  EXPECT_EQ(Channel()->GetEpoch(), 66u);
  EXPECT_EQ(Channel()->GetValidEpochs(), 3u);

  // Slide 4 went ahead: only the queues switch, and slide 5 goes ahead.
  ASSERT_TRUE(m_pPresenter->Goto(4));
  heard = HearUntil(LastPacketOf(5));
  files = FileSlides(heard);
  EXPECT_EQ(std::count(files.begin(), files.end(), 4u), 0);
  EXPECT_EQ(files.front(), 5u);
  EXPECT_EQ(heard.back().state.dwSlide, 4u);
  EXPECT_EQ(Channel()->GetEpoch(), 68u);
  EXPECT_EQ(Channel()->GetValidEpochs(), 3u);

  // The current slide again: nothing at all.
  const tSlideInfo before = m_pPresenter->GetState();
  EXPECT_TRUE(m_pPresenter->Goto(4));
  EXPECT_EQ(m_pPresenter->GetState(), before);

  // Any other slide: +2 with 2 valid; a next slide without a file queues nothing.
  ASSERT_TRUE(m_pPresenter->Goto(7));
  heard = HearUntil(LastPacketOf(7));
  EXPECT_EQ(FileSlides(heard).back(), 7u);
  EXPECT_EQ(Channel()->GetEpoch(), 70u);
  EXPECT_EQ(Channel()->GetValidEpochs(), 2u);
  EXPECT_EQ(Channel()->GetDataCount(), 0u);
  EXPECT_EQ(m_pPresenter->GetNextSlide(), 8u);
}

TEST_F(PresenterTest, StepsAndScreenStatesMoveTheState) {
  struct tCase {
    const char* szWhat;
    std::function<BOOL(CPresenter*)> act;
    DWORD dwSlide;
    WORD wStep;
    DWORD dwScreen;
    Calls coa;
  };
  const tCase cases[] = {
      {"goto 1", [](CPresenter* p) { return p->Goto(1); }, 1, 0, 3, {}},
      {"back at the first step",
       [](CPresenter* p) { return p->Step(0, 1); },
       1,
       0,
       3,
       {"GotoSlide 1"}},
      {"forward", [](CPresenter* p) { return p->Step(1, 1); }, 1, 1, 3, {}},
      {"forward", [](CPresenter* p) { return p->Step(1, 1); }, 1, 2, 3, {}},
      {"back", [](CPresenter* p) { return p->Step(-1, 1); }, 1, 1, 3, {}},
      {"another slide", [](CPresenter* p) { return p->Step(1, 4); }, 4, 0, 3, {"GotoSlide 4"}},
      {"back from step 0", [](CPresenter* p) { return p->Step(-1, 4); }, 3, 0, 3, {"GotoSlide 3"}},
      {"screen 19", [](CPresenter* p) { return p->SetScreen(19); }, 3, 0, 3, {}},
      {"screen 2", [](CPresenter* p) { return p->SetScreen(2); }, 3, 0, 2, {}},
  };
  DWORD dwLastTime = 0;
  for (const tCase& c : cases) {
    fake_coa::Reset();
    EXPECT_TRUE(c.act(m_pPresenter.get())) << c.szWhat;
    const tSlideInfo& state = m_pPresenter->GetState();
    EXPECT_EQ(state.dwSlide, c.dwSlide) << c.szWhat;
    EXPECT_EQ(state.wStep, c.wStep) << c.szWhat;
    EXPECT_EQ(state.dwScreenState, c.dwScreen) << c.szWhat;
    EXPECT_EQ(fake_coa::Calls(), c.coa) << c.szWhat;
    // Every state is newer than the one before, however quickly they come.
    EXPECT_GT(state.dwTime, dwLastTime) << c.szWhat;
    dwLastTime = state.dwTime;
  }
}

TEST_F(PresenterTest, StatesAndStrokesCarryTheCurrentSlide) {
  Connect();
  ASSERT_TRUE(m_pPresenter->Goto(2));
  ASSERT_TRUE(m_pPresenter->Step(1, 2));
  std::vector<tHeard> heard = HearUntil([](const tHeard& h) { return h.state.wStep == 1; });
  EXPECT_EQ(heard.back().dwType, orvalo::kPacketTypeState);
  EXPECT_FALSE(heard.back().fReliable);

  CPtsRequest stroke;
  for (int i = 0; i < 5; ++i) stroke.AddPoint(static_cast<float>(i), 1.0f);
  stroke.SetColor(0xFF);
  ASSERT_TRUE(m_pPresenter->SendPoints(&stroke));
  heard = HearUntil([](const tHeard& h) { return h.dwType == orvalo::kPacketTypePoints; });
  EXPECT_EQ(heard.back().dwPoints, 5u);
  EXPECT_EQ(heard.back().state.dwSlide, 2u);
  EXPECT_TRUE(heard.back().fReliable);
  EXPECT_EQ(stroke.GetNumPoints(), 5u);  // each channel queued a copy
}

TEST_F(PresenterTest, EndSendsTheDoneStateAgainAndAgain) {
  engines_test::MakeSlideCabinet(2, std::string(200000, 'z'));
  Connect();
  ASSERT_TRUE(m_pPresenter->Goto(1));
  ASSERT_TRUE(m_pPresenter->Goto(2));  // a large file still queued
  ASSERT_TRUE(m_pPresenter->End());
  EXPECT_TRUE(m_pPresenter->GetState().fDone);
  EXPECT_EQ(Channel()->GetDataCount(), 0u);
  EXPECT_EQ(Channel()->GetHeartbeatMs(), 75u);
  // The done state goes on as heartbeats until the channel stops.
  int nDone = 0;
  HearUntil([&](const tHeard& h) {
    if (h.state.fDone && h.dwType == orvalo::kPacketTypeState) ++nDone;
    return nDone == 5;
  });
}

TEST_F(PresenterTest, DisconnectReturnsWithTheWindowQueueFull) {
  Connect();
  ASSERT_TRUE(m_pPresenter->Goto(1));
  // The progress dialogs post to this thread, which does not read its queue.
  HWND hDlg = Channel()->GetProgressDialog()->GetHwnd();
  ASSERT_NE(hDlg, nullptr);
  while (PostMessage(hDlg, WM_NULL, 0, 0)) {
  }
  m_pPresenter->Disconnect();
  EXPECT_EQ(m_pPresenter->GetChannelCount(), 0);
  EXPECT_EQ(fake_coa::CallsStartingWith("Cleanup").size(), 1u);
  EXPECT_EQ(m_pPresenter->GetState().dwSlide, 0u);
  EXPECT_EQ(m_pPresenter->GetState().dwScreenState, 3u);
}

TEST_F(PresenterTest, ChannelsAreFoundByMachineName) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AddStream(m_group.sAddr.c_str()));
  m_pPresenter->GetChannel(0)->SetMachineName("\\\\alpha");
  m_pPresenter->GetChannel(1)->SetMachineName("Beta");
  m_pPresenter->GetChannel(2)->SetMachineName("10.0.0.7");
  EXPECT_STREQ(m_pPresenter->GetChannel(0)->GetMachineName(), "alpha");
  struct {
    const char* szName;
    int nIndex;
  } const cases[] = {
      {"ALPHA", 0},   {"beta.example.org", 1}, {"10.0.0.7", 2},
      {"10.0.0", -1}, {"gamma", -1},           {"", -1},
      {"alph", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(m_pPresenter->FindChannel(c.szName), c.nIndex) << c.szName;
}

TEST_F(PresenterTest, TheFirstChannelsDialogMoves) {
  m_pPresenter->MoveProgressDialog(10, 10);  // no channel: nothing
  ASSERT_TRUE(AddStream(m_group.sAddr.c_str()));
  m_pPresenter->MoveProgressDialog(120, 40);
  RECT r{};
  ASSERT_TRUE(GetWindowRect(Channel()->GetProgressDialog()->GetHwnd(), &r));
  EXPECT_EQ(r.left, 120);
  EXPECT_EQ(r.top, 40);
}

}  // namespace
