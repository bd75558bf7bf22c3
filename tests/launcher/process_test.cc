// Starting processes: command-line splitting and quoting, what the child is
// given (arguments, environment, folder, standard handles), waits and exit codes.
#include "platform/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Handle.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsThePlatformQuotingRules) {
  struct Case {
    const char* szLine;
    Args expected;
  };
  const Case kCases[] = {
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"  prog  a\tb  ", {"prog", "a", "b"}},
      {R"("/my dir/prog" "two words" x)", {"/my dir/prog", "two words", "x"}},
      {R"(p a"b c"d)", {"p", "ab cd"}},
      {R"(p "")", {"p", ""}},
      {R"(p "a ""q"" b")", {"p", R"(a "q" b)"}},
      {R"(p a\b\\c)", {"p", R"(a\b\\c)"}},
      {R"(p a\"b)", {"p", R"(a"b)"}},
      {R"(p a\\"b c")", {"p", R"(a\b c)"}},
      {R"(p a\\\"b)", {"p", R"(a\"b)"}},
      {R"(p "C:\dir\\" next)", {"p", R"(C:\dir\)", "next"}},
      {R"(p "unterminated rest)", {"p", "unterminated rest"}},
      // In the program's name backslashes are plain and quotes only group.
      {R"(C:\a\"b c" d)", {R"(C:\a\b c)", "d"}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(platform::SplitCommandLine(c.szLine), c.expected) << c.szLine;
  }
}

TEST(QuoteArgument, GivesEveryArgumentBackExactly) {
  const char* const kArgs[] = {"",         "plain",  "two words", R"(a"b)",    R"(end\)",
                               R"(a\\"b)", R"(\\\)", R"(x\y\\z)", "tab\there", R"(" \" "")"};
  for (const char* szArg : kArgs) {
    const std::string line = "prog " + platform::QuoteArgument(szArg) + " last";
    EXPECT_EQ(platform::SplitCommandLine(line), (Args{"prog", szArg, "last"})) << line;
  }
  EXPECT_EQ(platform::QuoteArgument("my show.ppt"), "\"my show.ppt\"");
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("process_test", &m_dir), ERROR_SUCCESS);
    m_out = m_dir + "/probe.txt";
    setenv("PROBE_OUT", m_out.c_str(), 1);
  }
  void TearDown() override {
    for (const char* szVar : {"PROBE_OUT", "PROBE_EXIT", "PROBE_SLEEP_MS", "PROBE_READ_STDIN"}) {
      unsetenv(szVar);
    }
    platform::DeleteTree(m_dir);
  }

  // Starts the probe; the process ends within the test's own limit.
  PROCESS_INFORMATION Start(std::string commandLine, LPVOID pEnvironment = nullptr,
                            LPCSTR szFolder = nullptr, const STARTUPINFO* pStartup = nullptr) {
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcess(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                              NORMAL_PRIORITY_CLASS, pEnvironment, szFolder, pStartup, &pi))
        << GetLastError();
    return pi;
  }
  DWORD Finish(PROCESS_INFORMATION pi) {
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, kLimitMs), WAIT_OBJECT_0);
    DWORD dwCode = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &dwCode));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwCode;
  }
  std::string Report() const {
    std::string s;
    platform::ReadWholeFile(m_out, &s);
    return s;
  }

  static constexpr DWORD kLimitMs = 30000;
  std::string m_dir;
  std::string m_out;
};

TEST_F(ProcessTest, ChildGetsItsArgumentsFolderAndEnvironment) {
  setenv("PROBE_EXIT", "7", 1);
  setenv("PROBE_VAR", "inherited", 1);
  PROCESS_INFORMATION pi = Start(platform::QuoteArgument(PROBE_PATH) + " plain " +
                                 platform::QuoteArgument(R"(with "quotes" and \)"));
  EXPECT_EQ(pi.dwProcessId, pi.dwThreadId);
  EXPECT_EQ(Finish(pi), 7u);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(Report(), std::string("arg=") + PROBE_PATH + "\narg=plain\n" +
                          "arg=with \"quotes\" and \\\ncwd=" + cwd + "\nenv=inherited\n");
  unsetenv("PROBE_VAR");
}

TEST_F(ProcessTest, GivenEnvironmentFolderAndStandardInput) {
  const std::string env = "PROBE_OUT=" + m_out + '\0' + "PROBE_VAR=given" + '\0' +
                          "PROBE_READ_STDIN=1" + '\0' + "PROBE_EXIT=3" + '\0' + '\0';
  const std::string input = m_dir + "/input.txt";
  ASSERT_EQ(platform::WriteWholeFile(input, "next\nquit\n", 10), ERROR_SUCCESS);
  int fdIn = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fdIn, 0);
  STARTUPINFO si;
  GetStartupInfo(&si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.fdStdInput = fdIn;
  std::string envBlock = env;
  // A bare name is found along $PATH, here the probe's own folder.
  std::string probeDir = PROBE_PATH;
  probeDir.resize(probeDir.rfind('/'));
  std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", (probeDir + ":" + oldPath).c_str(), 1);
  PROCESS_INFORMATION pi = Start("launcher_probe x", envBlock.data(), m_dir.c_str(), &si);
  setenv("PATH", oldPath.c_str(), 1);
  close(fdIn);
  EXPECT_EQ(Finish(pi), 3u);
  EXPECT_EQ(Report(),
            "arg=launcher_probe\narg=x\ncwd=" + m_dir + "\nenv=given\nstdin=next\nquit\n\n");
}

TEST_F(ProcessTest, TimedWaitThenTerminate) {
  setenv("PROBE_SLEEP_MS", "60000", 1);
  PROCESS_INFORMATION pi = Start(platform::QuoteArgument(PROBE_PATH));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 50), WAIT_TIMEOUT);
  DWORD dwCode = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &dwCode));
  EXPECT_EQ(dwCode, STILL_ACTIVE);
  EXPECT_TRUE(TerminateProcess(pi.hProcess, 42));
  // The thread handle is signalled with the process.
  EXPECT_EQ(WaitForSingleObject(pi.hThread, kLimitMs), WAIT_OBJECT_0);
  HANDLE hProcess = pi.hProcess;
  EXPECT_EQ(Finish(pi), 42u);
  EXPECT_FALSE(GetExitCodeProcess(hProcess, &dwCode));
}

TEST_F(ProcessTest, EndedProcessStaysSignalledAndCannotBeTerminated) {
  PROCESS_INFORMATION pi = Start(platform::QuoteArgument(PROBE_PATH));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, kLimitMs), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(TerminateProcess(pi.hProcess, 1));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Finish(pi), 0u);
}

TEST_F(ProcessTest, FailuresGiveTheirCodes) {
  struct Case {
    std::string commandLine;
    LPCSTR szFolder;
    DWORD dwFlags;
    DWORD dwError;
  };
  const std::string notExecutable = m_dir + "/plain.txt";
  ASSERT_EQ(platform::WriteWholeFile(notExecutable, "x", 1), ERROR_SUCCESS);
  const Case kCases[] = {
      {m_dir + "/missing", nullptr, 0, ERROR_FILE_NOT_FOUND},
      {"no-such-program-anywhere", nullptr, 0, ERROR_FILE_NOT_FOUND},
      {notExecutable, nullptr, 0, ERROR_ACCESS_DENIED},
      {PROBE_PATH, "/no/such/folder", 0, ERROR_DIRECTORY},
      {PROBE_PATH, nullptr, CREATE_SUSPENDED, ERROR_INVALID_PARAMETER},
      {"   ", nullptr, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : kCases) {
    std::string line = c.commandLine;
    PROCESS_INFORMATION pi{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcess(nullptr, line.data(), nullptr, nullptr, FALSE, c.dwFlags, nullptr,
                               c.szFolder, nullptr, &pi))
        << line;
    EXPECT_EQ(GetLastError(), c.dwError) << line;
  }
  EXPECT_FALSE(platform::FileExists(m_out));
}

}  // namespace
