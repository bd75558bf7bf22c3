#include "com/ServerModule.h"

#include "platform/Module.h"

namespace com {
namespace {
std::atomic<long> g_cLocks{0};
}  // namespace

void LockModule() { g_cLocks.fetch_add(1); }
void UnlockModule() { g_cLocks.fetch_sub(1); }
long ModuleLockCount() { return g_cLocks.load(); }
HRESULT CanUnloadNow() { return g_cLocks.load() == 0 ? S_OK : S_FALSE; }

std::string CurrentModulePath() {
  return platform::ModulePathOf(reinterpret_cast<const void*>(&CurrentModulePath));
}

}  // namespace com
