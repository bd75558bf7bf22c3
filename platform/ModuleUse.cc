#include "platform/ModuleUse.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {
namespace {

class CQueries {
 public:
  static CQueries& Get() {
    static auto* p = new CQueries;  // never destroyed: asked during exit too
    return *p;
  }
  std::mutex m_mutex;
  std::vector<PFN_ModuleInUse> m_queries;  // guarded by m_mutex
};

}  // namespace

void AddModuleUseQuery(PFN_ModuleInUse pfnQuery) {
  if (pfnQuery == nullptr) return;
  CQueries& q = CQueries::Get();
  std::lock_guard<std::mutex> lock(q.m_mutex);
  if (std::find(q.m_queries.begin(), q.m_queries.end(), pfnQuery) == q.m_queries.end())
    q.m_queries.push_back(pfnQuery);
}

bool IsModuleInUse(HMODULE hModule) {
  std::vector<PFN_ModuleInUse> queries;
  {
    CQueries& q = CQueries::Get();
    std::lock_guard<std::mutex> lock(q.m_mutex);
    queries = q.m_queries;
  }
  return std::any_of(queries.begin(), queries.end(),
                     [&](PFN_ModuleInUse pfn) { return pfn(hModule); });
}

bool IsAddressInModule(const void* pAddress, HMODULE hModule) {
  if (pAddress == nullptr || hModule == nullptr) return false;
  link_map* pModuleMap = nullptr;
  if (dlinfo(hModule, RTLD_DI_LINKMAP, &pModuleMap) != 0 || pModuleMap == nullptr) return false;
  Dl_info info{};
  link_map* pAddressMap = nullptr;
  if (dladdr1(pAddress, &info, reinterpret_cast<void**>(&pAddressMap), RTLD_DL_LINKMAP) == 0)
    return false;
  return pAddressMap == pModuleMap;
}

}  // namespace platform
