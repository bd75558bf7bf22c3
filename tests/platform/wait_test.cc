#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/Handle.h"
#include "platform/Thread.h"

using platform::InitialState;
using platform::ResetPolicy;

namespace {

struct Events {
  explicit Events(int n, ResetPolicy policy = ResetPolicy::Manual) {
    for (int i = 0; i < n; ++i) h.push_back(CreateEvent(policy, InitialState::NotSignaled));
  }
  ~Events() {
    for (HANDLE e : h) CloseHandle(e);
  }
  std::vector<HANDLE> h;
};

// A UDP socket bound to loopback and a second one to send to it.
struct UdpPair {
  UdpPair() {
    rx = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof addr;
    getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len);
  }
  ~UdpPair() {
    close(rx);
    close(tx);
  }
  void Send() {
    char b = 'x';
    sendto(tx, &b, 1, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  int rx, tx;
  sockaddr_in addr{};
};

}  // namespace

TEST(WaitTest, TimesOutWith258) {
  Events ev(2);
  EXPECT_EQ(WaitForMultipleObjects(2, ev.h.data(), FALSE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WAIT_TIMEOUT, 258u);
  EXPECT_EQ(WaitForSingleObject(ev.h[0], 0), WAIT_TIMEOUT);
}

TEST(WaitTest, LowestSignalledIndexWins) {
  Events ev(4);
  SetEvent(ev.h[3]);
  SetEvent(ev.h[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, ev.h.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
  // Manual-reset events stay signalled.
  EXPECT_EQ(WaitForMultipleObjects(4, ev.h.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
  ResetEvent(ev.h[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, ev.h.data(), FALSE, 0), WAIT_OBJECT_0 + 3);
}

TEST(WaitTest, AutoResetWakesOnce) {
  Events ev(1, ResetPolicy::Automatic);
  SetEvent(ev.h[0]);
  SetEvent(ev.h[0]);
  EXPECT_EQ(WaitForSingleObject(ev.h[0], 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev.h[0], 0), WAIT_TIMEOUT);
}

TEST(WaitTest, InitiallySignalled) {
  HANDLE h = CreateEvent(ResetPolicy::Manual, InitialState::Signaled);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  CloseHandle(h);
}

TEST(WaitTest, WakesForEventSetFromAnotherThread) {
  Events ev(2);
  std::thread t([&] {
    Sleep(20);
    SetEvent(ev.h[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, ev.h.data(), FALSE, 10000), WAIT_OBJECT_0 + 1);
  t.join();
}

TEST(WaitTest, EventAndSocketTogether) {
  UdpPair udp;
  Events ev(1);
  HANDLE sockEvent = WSACreateEvent();
  ASSERT_EQ(WSAEventSelect(udp.rx, sockEvent, platform::FD_READ), 0);
  HANDLE both[2] = {ev.h[0], sockEvent};

  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20), WAIT_TIMEOUT);

  udp.Send();
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0 + 1);
  long ready = 0;
  ASSERT_EQ(WSAEnumNetworkEvents(udp.rx, sockEvent, &ready), 0);
  EXPECT_EQ(ready & platform::FD_READ, platform::FD_READ);
  // Level-triggered: still ready until the datagram is read.
  EXPECT_EQ(WaitForSingleObject(sockEvent, 0), WAIT_OBJECT_0);
  char b;
  EXPECT_EQ(recv(udp.rx, &b, 1, 0), 1);
  EXPECT_EQ(WaitForSingleObject(sockEvent, 0), WAIT_TIMEOUT);

  SetEvent(ev.h[0]);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0);
  CloseHandle(sockEvent);
}

TEST(WaitTest, BadArgumentsFail) {
  Events ev(1);
  HANDLE bogus = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, ev.h.data(), FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, ev.h.data(), TRUE, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(bogus));
  EXPECT_FALSE(CloseHandle(bogus));
}
