#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "host/HostRegistry.h"
#include "platform/File.h"
#include "platform/Registry.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs Powerpnt with a registry and TMPDIR of the test's own, the add-in
// registered, `input` on standard input, and a time limit of its own.
class PowerpntTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("powerpnt-test-", &m_dir), 0u);
    setenv("ORVALO_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    setenv("HOST_TEST_ADDIN_LOG", (m_dir + "/addin.log").c_str(), 1);
    platform::RegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, std::string(host::kAddinsKey9) + "\\Dazirezo"),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("Path", TEST_ADDIN_PATH), ERROR_SUCCESS);
  }
  void TearDown() override {
    unsetenv("ORVALO_REGISTRY");
    unsetenv("HOST_TEST_ADDIN_LOG");
    platform::DeleteTree(m_dir);
  }

  int Run(const std::string& input, const std::string& args, std::string* pOut) {
    std::ofstream(m_dir + "/in") << input;
    std::string cmd = "cd '" + m_dir + "' && TMPDIR='" + m_dir +
                      "' timeout 60 '" POWERPNT_PATH "' " + args + " < in > out 2> err";
    int rc = std::system(cmd.c_str());
    *pOut = ReadAll(m_dir + "/out");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  std::string m_dir;
};

TEST_F(PowerpntTest, ScriptedShowPrintsTheSameLinesEveryRunAndTellsTheAddin) {
  const std::string script =
      "start\nnext\nnext\nprevious\nprevious\ngoto 5\nnext\npen 10,10 20,20 30,10\nblack\n"
      "white\nresume\nerase\ngoto 9\nnext\nnext\nnext\nquit\n";
  // The add-in named on the command line too is loaded once, not opened.
  const std::string args = "'" SAMPLE_PATH "' '" TEST_ADDIN_PATH "' --svg '" + m_dir + "/v.svg'";
  std::string first, second;
  ASSERT_EQ(Run(script, args, &first), 0);
  const std::string log = ReadAll(m_dir + "/addin.log");
  platform::DeleteFile(m_dir + "/addin.log");
  ASSERT_EQ(Run(script, args, &second), 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first,
            "no show\n"
            "show Sample.ppt slide 1/5 step 0/0 running lines 0 title \"A Live Mirror\"\n"
            "show Sample.ppt slide 2/5 step 0/3 running lines 0 title \"How It Travels\"\n"
            "show Sample.ppt slide 2/5 step 1/3 running lines 0 title \"How It Travels\"\n"
            "show Sample.ppt slide 2/5 step 0/3 running lines 0 title \"How It Travels\"\n"
            "show Sample.ppt slide 1/5 step 0/0 running lines 0 title \"A Live Mirror\"\n"
            "show Sample.ppt slide 5/5 step 0/3 running lines 0 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 running lines 0 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 running lines 2 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 black lines 2 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 white lines 2 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 running lines 2 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 1/3 running lines 0 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 2/3 running lines 0 title \"Questions\"\n"
            "show Sample.ppt slide 5/5 step 3/3 running lines 0 title \"Questions\"\n"
            "no show\n");
  EXPECT_EQ(log.substr(0, log.find("tmpdir ")), "startup tmpdir-private=yes\n");
  std::string events = log.substr(log.find("presentations"));
  EXPECT_EQ(events,
            "presentations 1\nbegin\nnext slide\nstep 1\nstep -1\nnext slide\nnext slide\n"
            "step 1\nscreen 3\nscreen 2\nscreen 1\nerase\nstep 1\nstep 1\nend\nshutdown\n");
  // The private temporary folder went with the process.
  std::string tmp = log.substr(log.find("tmpdir ") + 7);
  tmp = tmp.substr(0, tmp.find('\n'));
  EXPECT_FALSE(platform::DirectoryExists(tmp)) << tmp;
  EXPECT_NE(ReadAll(m_dir + "/v.svg").find("</svg>"), std::string::npos);
}

TEST_F(PowerpntTest, EndOfInputIsNoQuitAndInstallWritesItsFolder) {
  std::string out;
  // Without quit the program keeps running: the time limit ends it.
  std::ofstream(m_dir + "/in") << "start\n";
  std::string cmd = "cd '" + m_dir + "' && timeout -s KILL 3 '" POWERPNT_PATH "' < in > out 2>&1";
  int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 137) << "still running at the limit";

  ASSERT_EQ(Run("", "--install", &out), 0);
  platform::RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, host::kInstallRootKey, KEY_READ), ERROR_SUCCESS);
  std::string path;
  ASSERT_EQ(key.QueryString("Path", &path), ERROR_SUCCESS);
  EXPECT_EQ(path, platform::DirName(POWERPNT_PATH));
}

}  // namespace
