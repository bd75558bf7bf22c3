#include <unistd.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/Module.h"

namespace {

TEST(ModuleTest, LoadFailuresGiveTheOriginalCodes) {
  struct Case { const char* path; DWORD err; };
  const Case cases[] = {
      {"/nonexistent/missing.so", ERROR_MOD_NOT_FOUND},
      {"no-such-library.so", ERROR_MOD_NOT_FOUND},
      {"/proc/self/status", ERROR_BAD_EXE_FORMAT},  // exists, but no library
      {"", ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibrary(c.path), nullptr) << c.path;
    EXPECT_EQ(GetLastError(), c.err) << c.path;
  }
  HMODULE h = LoadLibrary(NO_EXPORTS_PATH);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LoadLibrary(NO_EXPORTS_PATH), h);  // the same module, one more reference
  EXPECT_NE(GetProcAddress(h, "NotAServer"), nullptr);
  EXPECT_EQ(GetProcAddress(h, "DllRegisterServer"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  char path[PATH_MAX];
  ASSERT_GT(GetModuleFileName(h, path, sizeof path), 0u);
  char real[PATH_MAX];
  ASSERT_NE(realpath(NO_EXPORTS_PATH, real), nullptr);
  EXPECT_STREQ(path, real);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_TRUE(platform::IsModuleLoaded(NO_EXPORTS_PATH));
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_FALSE(platform::IsModuleLoaded(NO_EXPORTS_PATH));
}

TEST(ModuleTest, ProgramPathIsCutToTheBuffer) {
  char path[PATH_MAX];
  DWORD n = GetModuleFileName(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  char exe[PATH_MAX];
  ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(len, 0);
  exe[len] = '\0';
  EXPECT_STREQ(path, exe);
  EXPECT_EQ(n, static_cast<DWORD>(len));
  char small[5];
  EXPECT_EQ(GetModuleFileName(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(exe, 4));
}

}  // namespace
