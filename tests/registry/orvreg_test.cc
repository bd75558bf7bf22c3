#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "tests/registry/RegistryFixture.h"

namespace {

class OrvregTest : public RegistryFixture {
 protected:
  // Runs orvreg with `args`; returns its standard output and exit code.
  int Run(const std::string& args, std::string* pOut = nullptr) {
    std::string cmd = std::string(ORVREG_PATH) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    std::string out;
    char buf[256];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    int status = pclose(p);
    if (pOut != nullptr) *pOut = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(OrvregTest, SetsListsAndDeletesValues) {
  const std::string key = "'HKCU\\Software\\Microsoft\\Office\\Orvalo'";
  EXPECT_EQ(Run("set " + key + " MasterIPAddress sz 224.1.2.3"), 0);
  EXPECT_EQ(Run("set " + key + " MasterPort dword 5000"), 0);
  EXPECT_EQ(Run("set " + key + " Blob binary 00ff10"), 0);
  EXPECT_EQ(Run("set 'HKCU\\Software\\Microsoft\\Office\\Orvalo\\Sub' @ sz x"), 0);

  // What the tool wrote, the library reads.
  platform::RegKey k;
  ASSERT_EQ(k.Open(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Orvalo", KEY_READ),
            ERROR_SUCCESS);
  DWORD type = 0, port = 0, cb = sizeof port;
  ASSERT_EQ(RegQueryValueEx(k.get(), "MasterPort", nullptr, &type, reinterpret_cast<LPBYTE>(&port),
                            &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(port, 5000u);

  std::string out;
  EXPECT_EQ(Run("list " + key, &out), 0);
  EXPECT_EQ(out,
            "[HKCU\\Software\\Microsoft\\Office\\Orvalo]\n"
            "  \"MasterIPAddress\" = REG_SZ \"224.1.2.3\"\n"
            "  \"MasterPort\" = REG_DWORD 0x00001388 (5000)\n"
            "  \"Blob\" = REG_BINARY 00 ff 10\n"
            "  Sub\\\n");
  EXPECT_EQ(Run("list -r " + key, &out), 0);
  EXPECT_NE(out.find("[HKCU\\Software\\Microsoft\\Office\\Orvalo\\Sub]\n  @ = REG_SZ \"x\"\n"),
            std::string::npos)
      << out;

  EXPECT_EQ(Run("delete " + key + " masterport"), 0);
  EXPECT_EQ(Run("delete " + key + " masterport", &out), 1);
  EXPECT_NE(out.find("error 2"), std::string::npos) << out;
  EXPECT_EQ(Run("deltree 'HKCU\\Software\\Microsoft'"), 0);
  EXPECT_EQ(Run("list " + key, &out), 1);
}

TEST_F(OrvregTest, RefusesBadArguments) {
  for (const char* args : {"", "list", "list HKXX\\a", "set HKCU\\a v dword 12x",
                           "set HKCU\\a v binary 0", "set HKCU\\a v qword 1"}) {
    EXPECT_EQ(Run(args), 2) << args;
  }
  std::string out;
  EXPECT_EQ(Run("path", &out), 0);
  EXPECT_EQ(out, m_path + "\n");
}

}  // namespace
