#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Tick.h"

TEST(ErrnoTest, MapsToWin32AndSocketCodes) {
  struct Case { int err; DWORD win32; DWORD wsa; };
  const Case cases[] = {
      {ENOENT, 2, WSAEINVAL},   {EACCES, 5, 10013},    {ENOMEM, 8, 10055},
      {EINVAL, 87, 10022},      {ENOSPC, 112, WSAEINVAL}, {EAGAIN, 31, 10035},
      {EMSGSIZE, 31, 10040},    {EADDRINUSE, 31, 10048},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Win32FromErrno(c.err), c.win32) << c.err;
    EXPECT_EQ(platform::WsaFromErrno(c.err), c.wsa) << c.err;
  }
}

TEST(TickTest, FakeClockDrivesGetTickCount) {
  platform::FakeTickClock::Install(0xFFFFFFF0u);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  platform::FakeTickClock::Advance(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);
  platform::FakeTickClock::Uninstall();
  DWORD a = GetTickCount();
  DWORD b = GetTickCount();
  EXPECT_LE(b - a, 1000u);
}

TEST(DebugOutputTest, HookSeesStringsAndAssertions) {
  std::vector<std::string> seen;
  auto prev = platform::SetDebugOutputHook([&](std::string_view s) { seen.emplace_back(s); });
  OutputDebugString("one");
  int x = 1;
  bool held = ORV_ASSERT(x == 2);
  platform::SetDebugOutputHook(prev);
  EXPECT_FALSE(held);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "one");
  EXPECT_NE(seen[1].find("Assertion failed: x == 2, file "), std::string::npos);
  EXPECT_NE(seen[1].find("misc_test.cc, line "), std::string::npos);
  OutputDebugString("not seen");  // no hook, no ORVALO_DEBUG: dropped
  EXPECT_EQ(seen.size(), 2u);
}
