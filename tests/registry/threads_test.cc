#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "tests/registry/RegistryFixture.h"

namespace {

using RegistryThreadsTest = RegistryFixture;

// Threads of one process share its connection; each write still lands.
TEST_F(RegistryThreadsTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kValuesEach = 25;
  std::vector<std::thread> threads;
  std::vector<LONG> errors(kThreads, ERROR_SUCCESS);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &errors] {
      for (int i = 0; i < kValuesEach && errors[t] == ERROR_SUCCESS; ++i) {
        platform::RegKey key;
        std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
        errors[t] = key.Create(HKEY_LOCAL_MACHINE, "Software\\Threads");
        if (errors[t] == ERROR_SUCCESS) errors[t] = key.SetString(name, name);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  platform::RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "Software\\Threads", KEY_READ), ERROR_SUCCESS);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(errors[t], ERROR_SUCCESS) << t;
    for (int i = 0; i < kValuesEach; ++i) {
      std::string name = "t" + std::to_string(t) + "v" + std::to_string(i), text;
      EXPECT_EQ(key.QueryString(name, &text), ERROR_SUCCESS) << name;
    }
  }
}

}  // namespace
