// The launcher run as a process from a copy of its folder, with its own
// registry file and a stand-in Powerpnt that records what it was given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "orvalo/Launcher/Arguments.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Handle.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Microsoft\\Office\\Orvalo";
constexpr char kInstallRoot9[] = "Software\\Microsoft\\Office\\9.0\\PowerPoint\\InstallRoot";
constexpr char kInstallRoot8[] = "Software\\Microsoft\\Office\\8.0\\PowerPoint\\InstallRoot";
constexpr char kAddin9[] = "Software\\Microsoft\\Office\\9.0\\Powerpoint\\Addins\\Dazirezo";
constexpr char kAddin8[] = "Software\\Microsoft\\Office\\8.0\\Powerpoint\\Addins\\Dazirezo";
constexpr char kUserInfo9[] = "Software\\Microsoft\\Office\\9.0\\Common\\UserInfo";
constexpr char kUserInfo8[] = "Software\\Microsoft\\Office\\8.0\\Common\\UserInfo";
constexpr char kPelagoSndProgId[] = "Pelago.PelagoSnd";

constexpr char kUsage[] =
    "Usage:\nTo send: orvalo <MAddr> <MPort> <LAddr> <LPort> <TTL> <MaxRate> <Presentation>\n"
    "To view: orvalo <MAddr> <MPort> <LAddr> <LPort> <TTL>\n"
    "Parameters:\n"
    "\t<MAddr> - multicast IP address for the slide master\n"
    "\t<MPort> - port number for slide master\n"
    "\t<LAddr> - multicast IP address for the live slides\n"
    "\t<LPort> - port number for live slides\n"
    "\t<TTL> - Time to live for KORIN packets\n"
    "\t<MaxRate> - maximum rate in kbps to send at\n"
    "\t<Presentation> - name of presentation to multicast\n"
    "\trestore - restore original rerirudo.dll in office directory\n";

// A stored value: its type and exact bytes; type REG_NONE when missing.
struct Value {
  DWORD type = REG_NONE;
  std::string data;
};

Value ReadValue(HKEY hRoot, const std::string& key, const std::string& name) {
  Value v;
  platform::RegKey k;
  if (k.Open(hRoot, key, KEY_READ) != ERROR_SUCCESS) return v;
  DWORD cb = 0;
  if (RegQueryValueEx(k.get(), name.c_str(), nullptr, &v.type, nullptr, &cb) != ERROR_SUCCESS) {
    return Value{};
  }
  v.data.resize(cb);
  RegQueryValueEx(k.get(), name.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()),
                  &cb);
  return v;
}

void WriteValue(HKEY hRoot, const std::string& key, const std::string& name, DWORD type,
                const std::string& data) {
  platform::RegKey k;
  ASSERT_EQ(k.Create(hRoot, key), ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueEx(k.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                    static_cast<DWORD>(data.size())),
      ERROR_SUCCESS);
}

bool KeyExists(HKEY hRoot, const std::string& key) {
  platform::RegKey k;
  return k.Open(hRoot, key, KEY_READ) == ERROR_SUCCESS;
}

std::string Dword(DWORD dw) { return std::string(reinterpret_cast<const char*>(&dw), 4); }

std::string Utf16(const std::string& ascii) {
  std::string s;
  for (char c : ascii) s += std::string{c, '\0'};
  return s;
}

// The module registered for a ProgID's class, or "" when none is.
std::string ServerOf(const std::string& progId) {
  platform::RegKey k;
  std::string clsid;
  if (k.Open(HKEY_CLASSES_ROOT, progId + "\\CLSID", KEY_READ) != ERROR_SUCCESS ||
      k.QueryString("", &clsid) != ERROR_SUCCESS ||
      k.Open(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", KEY_READ) !=
          ERROR_SUCCESS) {
    return "";
  }
  std::string path;
  k.QueryString("", &path);
  return path;
}

void Copy(const std::string& from, const std::string& to) {
  std::string bytes;
  ASSERT_EQ(platform::ReadWholeFile(from, &bytes), ERROR_SUCCESS) << from;
  ASSERT_EQ(platform::WriteWholeFile(to, bytes.data(), bytes.size()), ERROR_SUCCESS) << to;
  ASSERT_EQ(chmod(to.c_str(), 0755), 0);
}

struct LaunchResult {
  DWORD dwExitCode = STILL_ACTIVE;
  std::string out;
  std::string err;
};

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("launcher_test", &m_dir), ERROR_SUCCESS);
    m_launch = m_dir + "/launch";
    m_office = m_dir + "/office";
    m_probeOut = m_dir + "/powerpnt.txt";
    ASSERT_EQ(mkdir(m_launch.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(m_office.c_str(), 0755), 0);
    Copy(LAUNCHER_PATH, m_launch + "/orvalo");
    Copy(PELAGO_SO_PATH, m_launch + "/Pelago.so");
    Copy(ORVALO_SO_PATH, m_launch + "/orvalo.so");
    ASSERT_EQ(symlink(PROBE_PATH, (m_office + "/Powerpnt").c_str()), 0);
    setenv("ORVALO_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    setenv("PROBE_OUT", m_probeOut.c_str(), 1);
    setenv("PROBE_READ_STDIN", "1", 1);
    setenv("PROBE_EXIT", "3", 1);
  }
  void TearDown() override {
    for (const char* szVar : {"ORVALO_REGISTRY", "PROBE_OUT", "PROBE_READ_STDIN", "PROBE_EXIT"}) {
      unsetenv(szVar);
    }
    platform::DeleteTree(m_dir);
  }

  void InstallOffice(const char* szInstallRoot) {
    WriteValue(HKEY_LOCAL_MACHINE, szInstallRoot, "Path", REG_SZ, m_office + '\0');
  }

  // Runs the launcher copy with `args`, "show\nquit\n" as standard input.
  LaunchResult Launch(const std::vector<std::string>& args) {
    std::string line = platform::QuoteArgument(m_launch + "/orvalo");
    for (const std::string& a : args) line += " " + platform::QuoteArgument(a);
    const std::string in = m_dir + "/stdin.txt", out = m_dir + "/stdout.txt",
                      err = m_dir + "/stderr.txt";
    EXPECT_EQ(platform::WriteWholeFile(in, "show\nquit\n", 10), ERROR_SUCCESS);
    STARTUPINFO si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.fdStdInput = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    si.fdStdOutput = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    si.fdStdError = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    PROCESS_INFORMATION pi{};
    BOOL fStarted =
        CreateProcess(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    for (int fd : {si.fdStdInput, si.fdStdOutput, si.fdStdError}) close(fd);
    LaunchResult run;
    EXPECT_TRUE(fStarted) << GetLastError();
    if (!fStarted) return run;
    // Sanitizer builds start several times slower; a hang fails here.
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the launcher did not end";
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, INFINITE);
    }
    GetExitCodeProcess(pi.hProcess, &run.dwExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    platform::ReadWholeFile(out, &run.out);
    platform::ReadWholeFile(err, &run.err);
    return run;
  }

  // What the stand-in Powerpnt recorded, or "" when it did not run.
  std::string Powerpnt() const {
    std::string s;
    platform::ReadWholeFile(m_probeOut, &s);
    return s;
  }
  std::string PowerpntRecord(const std::vector<std::string>& args) const {
    std::string s = "arg=" + m_office + "/Powerpnt\n";
    for (const std::string& a : args) s += "arg=" + a + "\n";
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    return s + "cwd=" + cwd + "\nenv=\nstdin=show\nquit\n\n";
  }
  // Nothing of the launcher's own writes happened.
  void ExpectNothingWritten() {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAddin9));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAddin8));
    EXPECT_EQ(Powerpnt(), "");
  }

  std::string m_dir, m_launch, m_office, m_probeOut;
};

const std::vector<std::string> kViewerArgs = {"234.5.6.7", "5000", "234.5.6.8", "5001", "16"};

TEST_F(LauncherTest, FewerThanFiveArgumentsPrintTheUsage) {
  InstallOffice(kInstallRoot9);
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"restore"},
                           std::vector<std::string>{"234.5.6.7", "5000", "234.5.6.8", "5001"}}) {
    LaunchResult run = Launch(args);
    EXPECT_EQ(run.dwExitCode, 0u);
    EXPECT_EQ(run.out, kUsage);
    EXPECT_EQ(run.err, "");
  }
  ExpectNothingWritten();
}

TEST_F(LauncherTest, FiveArgumentsStartAViewerWithoutMaxRate) {
  InstallOffice(kInstallRoot9);
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(run.out, "Launching viewer...\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Powerpnt(), PowerpntRecord({m_launch + "/orvaloView.ppa"}));

  struct Expected {
    const char* szName;
    DWORD type;
    std::string data;
  };
  const Expected kSettings[] = {
      {"MasterIPAddress", REG_SZ, "234.5.6.7"},
      {"MasterPort", REG_DWORD, Dword(5000)},
      {"IPAddress", REG_SZ, "234.5.6.8"},
      {"Port", REG_DWORD, Dword(5001)},
      {"TTL", REG_DWORD, Dword(16)},
  };
  for (const Expected& e : kSettings) {
    Value v = ReadValue(HKEY_CURRENT_USER, kSettingsKey, e.szName);
    EXPECT_EQ(v.type, e.type) << e.szName;
    EXPECT_EQ(v.data, e.data) << e.szName;
  }
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "MaxRate").type, REG_NONE);
  Value addin = ReadValue(HKEY_LOCAL_MACHINE, kAddin9, "Path");
  EXPECT_EQ(addin.type, REG_SZ);
  EXPECT_EQ(addin.data, m_launch + "/orvaloView.ppa");
  // Both libraries registered from the launcher's own folder.
  EXPECT_EQ(ServerOf(kPelagoSndProgId), m_launch + "/Pelago.so");
  EXPECT_EQ(ServerOf(ORVALO_SO_PROGID), m_launch + "/orvalo.so");
}

TEST_F(LauncherTest, SixArgumentsStartAViewerWithMaxRate) {
  InstallOffice(kInstallRoot9);
  std::vector<std::string> args = kViewerArgs;
  args.push_back("800");
  LaunchResult run = Launch(args);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(run.out, "Launching viewer...\n");
  EXPECT_EQ(Powerpnt(), PowerpntRecord({m_launch + "/orvaloView.ppa"}));
  Value rate = ReadValue(HKEY_CURRENT_USER, kSettingsKey, "MaxRate");
  EXPECT_EQ(rate.type, REG_DWORD);
  EXPECT_EQ(rate.data, Dword(800));
}

TEST_F(LauncherTest, SevenArgumentsStartAPresenterWithThePresentation) {
  InstallOffice(kInstallRoot9);
  // Quotes and a trailing backslash reach the application unchanged.
  const std::string presentation = R"(my "best" show\)";
  std::vector<std::string> args = kViewerArgs;
  args.insert(args.end(), {"800", presentation, "ignored"});
  LaunchResult run = Launch(args);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(run.out, "Launching presenter...\n");
  EXPECT_EQ(Powerpnt(), PowerpntRecord({presentation, m_launch + "/orvaloPres.ppa"}));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddin9, "Path").data, m_launch + "/orvaloPres.ppa");
}

TEST_F(LauncherTest, Office80IsUsedForAllThreeKeysWithout90) {
  InstallOffice(kInstallRoot8);
  WriteValue(HKEY_CURRENT_USER, kUserInfo8, "UserName", REG_BINARY, "");
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(Powerpnt(), PowerpntRecord({m_launch + "/orvaloView.ppa"}));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddin8, "Path").data, m_launch + "/orvaloView.ppa");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAddin9));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserInfo9));
  Value name = ReadValue(HKEY_CURRENT_USER, kUserInfo8, "UserName");
  EXPECT_EQ(name.type, REG_BINARY);
  EXPECT_EQ(name.data, Utf16("Your name here"));
}

TEST_F(LauncherTest, OnlyAnEmptyUserNameIsReplaced) {
  InstallOffice(kInstallRoot9);
  struct Case {
    bool fStored;
    DWORD type;
    std::string stored;
    Value expectedName;
    Value expectedInitials;
  };
  const Case kCases[] = {
      {true, REG_SZ, "", {REG_SZ, Utf16("Your name here")}, {REG_SZ, Utf16("YNH")}},
      {true, REG_SZ, "Ada", {REG_SZ, "Ada"}, {}},
      {false, REG_SZ, "", {}, {}},
  };
  for (const Case& c : kCases) {
    RegDeleteTree(HKEY_CURRENT_USER, kUserInfo9);
    if (c.fStored) WriteValue(HKEY_CURRENT_USER, kUserInfo9, "UserName", c.type, c.stored);
    LaunchResult run = Launch(kViewerArgs);
    EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
    Value name = ReadValue(HKEY_CURRENT_USER, kUserInfo9, "UserName");
    Value initials = ReadValue(HKEY_CURRENT_USER, kUserInfo9, "UserInitials");
    EXPECT_EQ(name.type, c.expectedName.type) << c.stored;
    EXPECT_EQ(name.data, c.expectedName.data) << c.stored;
    EXPECT_EQ(initials.type, c.expectedInitials.type) << c.stored;
    EXPECT_EQ(initials.data, c.expectedInitials.data) << c.stored;
  }
}

TEST_F(LauncherTest, MissingPelagoStopsBeforeAnythingElse) {
  InstallOffice(kInstallRoot9);
  ASSERT_EQ(unlink((m_launch + "/Pelago.so").c_str()), 0);
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 0u);
  EXPECT_EQ(run.err, "LoadLibrary(" + m_launch + "/Pelago.so) failed: 0x0000007e\n");
  EXPECT_EQ(run.out, "Register Pelago.so failed\n");
  EXPECT_EQ(ServerOf(ORVALO_SO_PROGID), "");
  ExpectNothingWritten();
}

TEST_F(LauncherTest, LibraryWithoutRegistrationExportIsRefused) {
  InstallOffice(kInstallRoot9);
  Copy(NO_EXPORTS_PATH, m_launch + "/orvalo.so");
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 0u);
  EXPECT_EQ(run.err, "GetProcAddress(\"DllRegisterServer\") on " + m_launch +
                         "/orvalo.so failed: 0x0000007f\n");
  EXPECT_EQ(run.out, "Register orvalo.so failed\n");
  ExpectNothingWritten();
}

TEST_F(LauncherTest, NoInstallRootAtAll) {
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 0u);
  EXPECT_EQ(run.out, "Cannot get office bin dir from registry\n");
  EXPECT_EQ(ServerOf(kPelagoSndProgId), "");
  ExpectNothingWritten();
}

TEST_F(LauncherTest, InstallRootWithoutNulIsTerminated) {
  WriteValue(HKEY_LOCAL_MACHINE, kInstallRoot9, "Path", REG_SZ, m_office);
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(Powerpnt(), PowerpntRecord({m_launch + "/orvaloView.ppa"}));
}

TEST_F(LauncherTest, MissingPowerpntIsReported) {
  InstallOffice(kInstallRoot9);
  ASSERT_EQ(unlink((m_office + "/Powerpnt").c_str()), 0);
  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 0u);
  EXPECT_EQ(run.out, "Launching viewer...\nUnable to start \"" + m_office + "/Powerpnt\" \"" +
                         m_launch + "/orvaloView.ppa\"");
}

#ifdef POWERPNT_PATH
TEST_F(LauncherTest, StartsTheInstalledPowerpnt) {
  STARTUPINFO si;
  GetStartupInfo(&si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.fdStdOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::string line = platform::QuoteArgument(POWERPNT_PATH) + " --install";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcess(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  close(si.fdStdOutput);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::string folder = POWERPNT_PATH;
  folder.resize(folder.rfind('/'));
  ASSERT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kInstallRoot9, "Path").data.substr(0, folder.size()),
            folder);

  LaunchResult run = Launch(kViewerArgs);
  EXPECT_EQ(run.dwExitCode, 1u) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("Launching viewer...\n", 0), 0u) << run.out;
  EXPECT_EQ(Powerpnt(), "");  // the real one, not the stand-in
}
#endif

TEST_F(LauncherTest, BadArgumentsAreNamedBeforeAnythingHappens) {
  InstallOffice(kInstallRoot9);
  struct Case {
    int nIndex;  // which argument of a presenter's seven to replace
    std::string value;
    std::string message;
  };
  const std::string kPort = "must be a number from 1 to 65535, not \"";
  const Case kCases[] = {
      {2, "abc", "MPort " + kPort + "abc\"\n"},
      {2, "0", "MPort " + kPort + "0\"\n"},
      {4, "65536", "LPort " + kPort + "65536\"\n"},
      {4, "-1", "LPort " + kPort + "-1\"\n"},
      {4, "12x", "LPort " + kPort + "12x\"\n"},
      {4, "", "LPort " + kPort + "\"\n"},
      {5, "256", "TTL must be a number from 0 to 255, not \"256\"\n"},
      {6, "fast", "MaxRate must be a number from 1 to 536870, not \"fast\"\n"},
      {1, std::string(256, 'a'), "MAddr is too long: at most 255 characters\n"},
      {3, std::string(300, 'b'), "LAddr is too long: at most 255 characters\n"},
      {7, std::string(4096, 'c'), "Presentation is too long: at most 4095 characters\n"},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> args = {"234.5.6.7", "5000", "234.5.6.8", "5001",
                                     "16",        "800",  "show.ppt"};
    args[c.nIndex - 1] = c.value;
    LaunchResult run = Launch(args);
    EXPECT_EQ(run.dwExitCode, 0u) << c.message;
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(ServerOf(kPelagoSndProgId), "") << c.message;
    ExpectNothingWritten();
  }
}

TEST(LauncherArguments, NumbersAcceptBlanksAndASign) {
  struct Case {
    const char* szText;
    DWORD dwMin, dwMax;
    BOOL fOk;
    DWORD dwValue;
  };
  const Case kCases[] = {
      {"5000", 1, 65535, TRUE, 5000},
      {"  +65535", 1, 65535, TRUE, 65535},
      {"\t7", 0, 255, TRUE, 7},
      {"0", 0, 255, TRUE, 0},
      {"-0", 0, 255, TRUE, 0},
      {"00042", 1, 65535, TRUE, 42},
      {"4294967295", 0, 0xFFFFFFFF, TRUE, 0xFFFFFFFF},
      {"4294967296", 0, 0xFFFFFFFF, FALSE, 0},
      {"99999999999999999999999", 0, 0xFFFFFFFF, FALSE, 0},
      {"5000 ", 1, 65535, FALSE, 0},
      {"+", 1, 65535, FALSE, 0},
      {" ", 1, 65535, FALSE, 0},
      {"0x10", 0, 255, FALSE, 0},
  };
  for (const Case& c : kCases) {
    DWORD dwValue = 0;
    EXPECT_EQ(ParseNumberArgument(c.szText, c.dwMin, c.dwMax, &dwValue), c.fOk) << c.szText;
    if (c.fOk) {
      EXPECT_EQ(dwValue, c.dwValue) << c.szText;
    }
  }
}

}  // namespace
