// Points TMPDIR at a fresh folder for the life of the object, so that tests
// using the fixed temporary names do not meet under ctest -j.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/File.h"

class ScopedTmpDir {
 public:
  ScopedTmpDir() {
    const char* szOld = std::getenv("TMPDIR");
    m_fHadOld = szOld != nullptr;
    if (m_fHadOld) m_old = szOld;
    platform::CreateTempDirectory("slides", &m_dir);
    m_dir += '/';
    setenv("TMPDIR", m_dir.c_str(), 1);
  }
  ~ScopedTmpDir() {
    if (m_fHadOld) {
      setenv("TMPDIR", m_old.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    platform::DeleteTree(m_dir);
  }
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

  const std::string& path() const { return m_dir; }  // with trailing '/'

 private:
  std::string m_dir;
  std::string m_old;
  bool m_fHadOld = false;
};
