#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "tests/mcast/TestGroup.h"

namespace {

using mcast_test::NextTestGroup;
using mcast_test::TestGroup;

constexpr long kWaitSec = 5;  // generous: nothing here should take long

// Ports on the loopback interface only, with assertion reports captured.
class LoopbackPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMulticast::SetInterfaceForTesting("127.0.0.1"));
    m_prevHook = platform::SetDebugOutputHook([this](std::string_view s) { m_output += s; });
    m_group = NextTestGroup();
  }
  void TearDown() override {
    platform::SetDebugOutputHook(m_prevHook);
    CMulticast::SetInterfaceForTesting(nullptr);
  }

  void OpenLoopback(CMulticast& port, BOOL fLoopback = TRUE) {
    ASSERT_EQ(port.Open(m_group.sAddr.c_str(), m_group.wPort, 1, fLoopback), 0)
        << port.GetLastWSAError() << " " << m_output;
  }

  static bool WaitReadable(CMulticast& port) {
    BOOL fRead = FALSE, fWrite = FALSE;
    port.WaitReady(kWaitSec, 0, &fRead, &fWrite, TRUE, FALSE);
    return fRead == TRUE;
  }

  TestGroup m_group;
  std::string m_output;
  platform::DebugOutputHook m_prevHook;
};

TEST_F(LoopbackPortTest, GatheredSendArrivesScatteredWithItsSource) {
  CMulticast port;
  OpenLoopback(port);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(std::string(port.GetDottedAddr()), m_group.sAddr);

  char szHead[] = "head:", szBody[] = "body of the datagram";
  WSABUF out[2] = {{5, szHead}, {static_cast<ULONG>(strlen(szBody)), szBody}};
  DWORD dwSent = 0;
  ASSERT_EQ(port.SendBuffers(out, 2, &dwSent), 0);
  EXPECT_EQ(dwSent, 5 + strlen(szBody));
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSABASEERR));

  ASSERT_TRUE(WaitReadable(port));
  u_long ulAvail = 0;
  ASSERT_EQ(port.GetRcvBytesAvail(&ulAvail), 0);
  EXPECT_EQ(ulAvail, dwSent);

  char abHead[5], abRest[64] = {};
  WSABUF in[2] = {{sizeof abHead, abHead}, {sizeof abRest, abRest}};
  DWORD dwRecvd = 0;
  sockaddr_in from{};
  ASSERT_EQ(port.RecvBuffersFrom(in, 2, &dwRecvd, &from), 0);
  EXPECT_EQ(dwRecvd, dwSent);
  EXPECT_EQ(std::string(abHead, 5), "head:");
  EXPECT_EQ(std::string(abRest), szBody);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

  // Nothing more is waiting.
  BYTE abBuf[16];
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), SOCKET_ERROR);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEWOULDBLOCK));
}

TEST_F(LoopbackPortTest, OversizedDatagramIsConsumedAsZeroBytes) {
  CMulticast port;
  OpenLoopback(port);
  BYTE abBig[600], abSmall[3] = {1, 2, 3};
  memset(abBig, 0xAB, sizeof abBig);
  ASSERT_EQ(port.Send(abBig, sizeof abBig), 600);
  ASSERT_EQ(port.Send(abSmall, sizeof abSmall), 3);

  ASSERT_TRUE(WaitReadable(port));
  BYTE abBuf[100] = {};
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), 0);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEMSGSIZE));
  ASSERT_TRUE(WaitReadable(port));
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), 3);
  EXPECT_EQ(abBuf[2], 3);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSABASEERR));
}

TEST_F(LoopbackPortTest, OwnDatagramsReadAsZeroBytesWithLoopbackOff) {
  CMulticast port;
  OpenLoopback(port, FALSE);  // the local address is the test interface's
  BYTE abData[4] = {9, 8, 7, 6};
  ASSERT_EQ(port.Send(abData, sizeof abData), 4);
  ASSERT_TRUE(WaitReadable(port));
  BYTE abBuf[16];
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), 0);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSABASEERR));
}

TEST_F(LoopbackPortTest, ReceiverHearsOnlyItsOwnGroup) {
  TestGroup other = NextTestGroup();
  CMulticast a, b, sender;
  ASSERT_EQ(a.OpenRcv(m_group.sAddr.c_str(), m_group.wPort, TRUE), 0);
  ASSERT_EQ(b.OpenRcv(other.sAddr.c_str(), m_group.wPort, TRUE), 0);  // same port
  ASSERT_EQ(sender.OpenSnd(m_group.sAddr.c_str(), m_group.wPort, 1), 0);
  BYTE abData[2] = {1, 2};
  ASSERT_EQ(sender.Send(abData, 2), 2);
  ASSERT_TRUE(WaitReadable(a));
  BYTE abBuf[8];
  EXPECT_EQ(a.Recv(abBuf, sizeof abBuf), 2);
  EXPECT_EQ(b.Recv(abBuf, sizeof abBuf), SOCKET_ERROR);
  EXPECT_EQ(b.GetLastWSAError(), static_cast<int>(WSAEWOULDBLOCK));
}

TEST_F(LoopbackPortTest, SimulatedLossDropsOnEitherSide) {
  CMulticast port;
  OpenLoopback(port);
  BYTE abData[8] = {}, abBuf[16];

  ASSERT_TRUE(port.SetSndSimLoss(100.0f));
  EXPECT_EQ(port.Send(abData, sizeof abData), 8);  // counts as sent
  ASSERT_TRUE(port.SetSndSimLoss(0.0f));
  ASSERT_TRUE(port.SetRcvSimLoss(100.0f));
  ASSERT_EQ(port.Send(abData, 5), 5);
  ASSERT_TRUE(WaitReadable(port));
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), 0);  // the 5 bytes, dropped on receipt
  ASSERT_TRUE(port.SetRcvSimLoss(0.0f));
  ASSERT_EQ(port.Send(abData, 6), 6);
  ASSERT_TRUE(WaitReadable(port));
  EXPECT_EQ(port.Recv(abBuf, sizeof abBuf), 6);  // the dropped send never arrived
}

TEST_F(LoopbackPortTest, SocketEventsSignalReadiness) {
  CMulticast port;
  OpenLoopback(port);
  HANDLE hRead = WSACreateEvent();
  ASSERT_NE(hRead, nullptr);
  ASSERT_EQ(port.RcvEventSelect(hRead, FD_READ), 0);
  EXPECT_EQ(WaitForSingleObject(hRead, 0), WAIT_TIMEOUT);
  BYTE abData[1] = {42};
  ASSERT_EQ(port.Send(abData, 1), 1);
  EXPECT_EQ(WaitForSingleObject(hRead, kWaitSec * 1000), WAIT_OBJECT_0);
  WSANETWORKEVENTS events;
  ASSERT_EQ(port.RcvEnumNetworkEvents(hRead, &events), 0);
  EXPECT_EQ(events.lNetworkEvents, FD_READ);  // writable too, but not selected
  ASSERT_EQ(port.RcvEventSelect(hRead, 0), 0);
  WSACloseEvent(hRead);
}

TEST_F(LoopbackPortTest, WaitReadyWithoutCreditStillReportsReadable) {
  CMulticast port;
  OpenLoopback(port);
  BOOL fRead = FALSE, fWrite = FALSE;
  EXPECT_EQ(port.Select(kWaitSec, 0, &fRead, &fWrite, TRUE, TRUE), 1);
  EXPECT_FALSE(fRead);
  EXPECT_TRUE(fWrite);

  ASSERT_EQ(port.SetDataRate(1000), ERROR_SUCCESS);
  BYTE abData[1000] = {};
  ASSERT_EQ(port.Send(abData, sizeof abData), 1000);  // about a second of debt
  // Too short a time-out for the credit: write only sleeps it out, unready.
  port.WaitReady(0, 20000, &fRead, &fWrite, FALSE, TRUE);
  EXPECT_FALSE(fWrite);
  // With read too, the waiting datagram is reported and writing is not.
  port.WaitReady(0, 500000, &fRead, &fWrite, TRUE, TRUE);
  EXPECT_TRUE(fRead);
  EXPECT_FALSE(fWrite);
}

TEST_F(LoopbackPortTest, BufferSizesStayInTheirBounds) {
  CMulticast port;
  EXPECT_EQ(port.GetMaxSndLen(), 512);   // closed: unreadable
  EXPECT_EQ(port.GetMaxRcvLen(), 1460);  // closed: unreadable
  OpenLoopback(port);
  int nSnd = port.GetMaxSndLen();
  EXPECT_GT(nSnd, 0);
  EXPECT_LE(nSnd, 1460);
  int nRcv = port.GetMaxRcvLen();
  EXPECT_GE(nRcv, 1460 * 2);
  EXPECT_LE(nRcv, 64512);
  EXPECT_EQ(port.GetMaxRcvLen(), nRcv);
}

TEST_F(LoopbackPortTest, RefusesBadAddressesWithoutCuttingThem) {
  const char* bad[] = {
      "239.255.255.2501",  // 16 characters
      "239.1.2.3.4",       // five parts
      "239.1.2",           // inet_addr would take it; a dotted address has four parts
      "239.1.2.300",
      "0xEF.1.2.3",
      "group.example",
      "",
      nullptr,
  };
  for (const char* sz : bad) {
    CMulticast port;
    EXPECT_EQ(port.OpenRcv(sz, m_group.wPort, TRUE), SOCKET_ERROR) << (sz ? sz : "null");
    EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEINVAL));
    EXPECT_EQ(port.OpenSnd(sz, m_group.wPort, 1), SOCKET_ERROR) << (sz ? sz : "null");
    EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEINVAL));
    EXPECT_STREQ(port.GetDottedAddr(), "");
    EXPECT_FALSE(port.IsOpen());
  }
  CMulticast port;
  EXPECT_EQ(port.Open("239.255.255.250", m_group.wPort, 1, TRUE), 0);  // 15 characters
  EXPECT_STREQ(port.GetDottedAddr(), "239.255.255.250");
}

TEST_F(LoopbackPortTest, ClosedPortFailsClearly) {
  CMulticast port;
  EXPECT_FALSE(port.IsOpen());
  BYTE abData[4] = {};
  EXPECT_EQ(port.Send(abData, 4), SOCKET_ERROR);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAENOTSOCK));
  EXPECT_EQ(port.Recv(abData, 4), SOCKET_ERROR);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAENOTSOCK));
  BOOL fRead, fWrite;
  EXPECT_EQ(port.Select(0, 0, &fRead, &fWrite, TRUE, FALSE), SOCKET_ERROR);
  OpenLoopback(port);
  port.Close();
  port.Close();  // twice is harmless
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LeaveGroup(), 0);
}

TEST_F(LoopbackPortTest, OverlappedCallsAreRefused) {
  CMulticast port;
  OpenLoopback(port);
  BYTE abData[4] = {};
  WSABUF buf{4, reinterpret_cast<char*>(abData)};
  OVERLAPPED ov{};
  DWORD dw = 0;
  EXPECT_EQ(port.SendBuffers(&buf, 1, &dw, &ov), SOCKET_ERROR);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEINVAL));
  EXPECT_EQ(port.RecvBuffers(&buf, 1, &dw, &ov), SOCKET_ERROR);
  EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAEINVAL));
}

TEST_F(LoopbackPortTest, LocalAddressIsTheTestInterfaceOrNeverLoopback) {
  CMulticast port;
  DWORD dwAddr = 0;
  ASSERT_EQ(port.GetLocalIPaddr(&dwAddr), 0);
  EXPECT_EQ(dwAddr, htonl(INADDR_LOOPBACK));
  CMulticast::SetInterfaceForTesting(nullptr);
  if (port.GetLocalIPaddr(&dwAddr) == 0) {
    EXPECT_NE(ntohl(dwAddr) >> 24, 127u);
  } else {
    EXPECT_EQ(port.GetLastWSAError(), static_cast<int>(WSAHOST_NOT_FOUND));
    EXPECT_EQ(dwAddr, 0u);
  }
}

}  // namespace
