// Points the registry at a fresh database in a temporary folder for each test.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/File.h"

class RegistryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("regtest", &m_dir), ERROR_SUCCESS);
    // A folder that does not exist yet: the store creates it.
    m_path = m_dir + "/cfg/orvalo/registry.db";
    setenv("ORVALO_REGISTRY", m_path.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVALO_REGISTRY");
    platform::DeleteTree(m_dir);
  }

  std::string m_dir;
  std::string m_path;
};
