// A module stays loaded while a window, dialog or timer procedure of its own
// lives, and a window class cannot go while windows of it live.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "com/Registration.h"
#include "com/Runtime.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Module.h"
#include "platform/ModuleUse.h"
#include "tests/ui/UnloadFixture.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

class UnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("uiunload", &m_dir), ERROR_SUCCESS);
    setenv("ORVALO_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    com::CoClassRegistration reg{};
    reg.clsid = CLSID_UiUnloadFixture;
    reg.description = "UiUnloadFixture Class";
    ASSERT_EQ(com::RegisterCoClass(reg, UNLOAD_FIXTURE_PATH), S_OK);
  }
  void TearDown() override {
    unsetenv("ORVALO_REGISTRY");
    platform::DeleteTree(m_dir);
  }

  // Loads the fixture as the runtime loads a server, and returns one export.
  template <class PFN>
  PFN LoadAndGet(const char* szExport) {
    IClassFactory* pFactory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_UiUnloadFixture, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&pFactory)),
              S_OK);
    if (pFactory != nullptr) pFactory->Release();
    HMODULE h = LoadLibrary(UNLOAD_FIXTURE_PATH);  // the runtime's module, one more reference
    auto pfn = reinterpret_cast<PFN>(GetProcAddress(h, szExport));
    FreeLibrary(h);
    return pfn;
  }

  std::string m_dir;
};

TEST_F(UnloadTest, ModuleStaysWhileItsWindowDialogOrTimerLives) {
  struct Case {
    const char* szName;
    // Makes the object through the module; returns what ends it.
    std::function<std::function<void()>()> make;
  };
  const Case cases[] = {
      {"window",
       [&]() -> std::function<void()> {
         HWND hwnd = LoadAndGet<PFN_FixtureCreateWindow>("FixtureCreateWindow")();
         EXPECT_NE(hwnd, nullptr);
         SetLastError(0);
         EXPECT_FALSE(UnregisterClass(kUiUnloadFixtureClass, nullptr));
         EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
         return [hwnd] {
           EXPECT_TRUE(DestroyWindow(hwnd));
           EXPECT_TRUE(UnregisterClass(kUiUnloadFixtureClass, nullptr));
         };
       }},
      {"dialog",
       [&]() -> std::function<void()> {
         HWND hDlg = LoadAndGet<PFN_FixtureCreateDialog>("FixtureCreateDialog")();
         EXPECT_NE(hDlg, nullptr);
         return [hDlg] { EXPECT_TRUE(DestroyWindow(hDlg)); };
       }},
      {"timer",
       [&]() -> std::function<void()> {
         UINT_PTR id = LoadAndGet<PFN_FixtureSetTimer>("FixtureSetTimer")();
         EXPECT_NE(id, 0u);
         return [id] { EXPECT_TRUE(KillTimer(nullptr, id)); };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.szName);
    std::function<void()> end = c.make();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(platform::IsModuleLoaded(UNLOAD_FIXTURE_PATH));
    end();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(platform::IsModuleLoaded(UNLOAD_FIXTURE_PATH));
  }
}

TEST(ModuleUseTest, AddressesAreTiedToTheirOwnModule) {
  HMODULE h = LoadLibrary(UNLOAD_FIXTURE_PATH);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(platform::IsAddressInModule(
      reinterpret_cast<const void*>(GetProcAddress(h, "FixtureCreateWindow")), h));
  // Code of this program and of the window layer is not the fixture's.
  EXPECT_FALSE(platform::IsAddressInModule(reinterpret_cast<const void*>(&DestroyWindow), h));
  static int s_nLocal = 0;
  EXPECT_FALSE(platform::IsAddressInModule(&s_nLocal, h));
  EXPECT_FALSE(platform::IsAddressInModule(nullptr, h));
  EXPECT_FALSE(platform::IsModuleInUse(h));
  FreeLibrary(h);
}

}  // namespace
