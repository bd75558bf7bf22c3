#include "platform/Tick.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<bool> g_fFake{false};
std::atomic<DWORD> g_dwFakeNow{0};
}  // namespace

DWORD GetTickCount() {
  if (g_fFake.load(std::memory_order_acquire)) return g_dwFakeNow.load();
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

namespace platform {

void FakeTickClock::Install(DWORD dwStart) {
  g_dwFakeNow.store(dwStart);
  g_fFake.store(true, std::memory_order_release);
}
void FakeTickClock::Set(DWORD dwNow) { g_dwFakeNow.store(dwNow); }
void FakeTickClock::Advance(DWORD dwMs) { g_dwFakeNow.fetch_add(dwMs); }
void FakeTickClock::Uninstall() { g_fFake.store(false, std::memory_order_release); }

}  // namespace platform
