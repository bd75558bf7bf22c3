#include "platform/Registry.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "tests/registry/RegistryFixture.h"

namespace {

using RegistryTest = RegistryFixture;

LONG Set(HKEY h, const char* name, DWORD type, const std::string& data) {
  return RegSetValueEx(h, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
}

TEST_F(RegistryTest, ValuesRoundTripWithTypeAndExactLength) {
  struct Case { const char* name; DWORD type; std::string data; };
  const DWORD dw = 0x12345678;
  const Case cases[] = {
      {"NoNul", REG_SZ, "224.1.2.3"},                 // the launcher writes text without its NUL
      {"WithNul", REG_SZ, std::string("abc\0", 4)},
      {"Empty", REG_SZ, ""},
      {"Port", REG_DWORD, std::string(reinterpret_cast<const char*>(&dw), 4)},
      {"Blob", REG_BINARY, std::string("\x00\x01\xff\x00", 4)},
      {"", REG_SZ, "default value"},
      {"Utf16", REG_SZ, std::string("Y\0N\0H\0", 6)},
  };
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Orvalo"), ERROR_SUCCESS);
  for (const Case& c : cases) ASSERT_EQ(Set(key.get(), c.name, c.type, c.data), ERROR_SUCCESS);
  key.Close();

  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Orvalo", KEY_READ),
            ERROR_SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = 99, cb = 0;
    // Length only.
    ASSERT_EQ(RegQueryValueEx(key.get(), c.name, nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(cb, c.data.size());
    // A buffer one byte short: nothing copied, the length needed written back.
    std::string buf(c.data.size() + 8, '#');
    if (!c.data.empty()) {
      cb = static_cast<DWORD>(c.data.size() - 1);
      EXPECT_EQ(RegQueryValueEx(key.get(), c.name, nullptr, &type,
                                reinterpret_cast<LPBYTE>(buf.data()), &cb),
                ERROR_MORE_DATA);
      EXPECT_EQ(cb, c.data.size());
      EXPECT_EQ(buf, std::string(c.data.size() + 8, '#'));
    }
    // A larger buffer: exactly the bytes written, nothing appended.
    cb = static_cast<DWORD>(buf.size());
    ASSERT_EQ(RegQueryValueEx(key.get(), c.name, nullptr, &type,
                              reinterpret_cast<LPBYTE>(buf.data()), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(cb, c.data.size());
    EXPECT_EQ(buf.substr(0, cb), c.data);
    EXPECT_EQ(buf[cb], '#');
  }
  // Overwriting replaces type and data; a null name is the default value.
  platform::RegKey rw;
  ASSERT_EQ(rw.Open(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Orvalo", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  ASSERT_EQ(Set(rw.get(), "port", REG_SZ, "x"), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(rw.QueryString("PORT", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "x");
  EXPECT_EQ(rw.QueryString(std::string(), &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "default value");
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndKeepTheirWrittenCase) {
  HKEY h = nullptr;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Orvalo\\Sub", 0, nullptr, 0,
                           KEY_ALL_ACCESS, nullptr, &h, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  RegCloseKey(h);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\orvalo\\sub\\", 0, nullptr, 0,
                           KEY_ALL_ACCESS, nullptr, &h, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
  RegCloseKey(h);
  // The same name under another root is another key.
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvalo", 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &h), ERROR_SUCCESS);
  char name[kMaxRegKeyNameChars + 1];
  DWORD cch = sizeof name;
  ASSERT_EQ(RegEnumKeyEx(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Orvalo");
  EXPECT_EQ(cch, 6u);
  RegCloseKey(h);
}

TEST_F(RegistryTest, EnumeratesInOrderAndReportsShortBuffers) {
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
  for (const char* sub : {"beta", "Alpha", "gamma"}) {
    platform::RegKey child;
    ASSERT_EQ(child.Create(key.get(), sub), ERROR_SUCCESS);
  }
  for (const char* v : {"z", "a", "m"}) ASSERT_EQ(Set(key.get(), v, REG_SZ, "1234"), ERROR_SUCCESS);

  std::vector<std::string> keys, values;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof name;
    LONG err = RegEnumKeyEx(key.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (err == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(err, ERROR_SUCCESS);
    keys.emplace_back(name, cch);
  }
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof name, type = 0, cb = 0;
    LONG err = RegEnumValue(key.get(), i, name, &cch, nullptr, &type, nullptr, &cb);
    if (err == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(err, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(cb, 4u);
    values.emplace_back(name, cch);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(values, (std::vector<std::string>{"z", "a", "m"}));

  // Name buffer without room for the NUL; data buffer too small.
  DWORD cch = 5;
  EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  BYTE data[2];
  DWORD cb = sizeof data;
  cch = sizeof name;
  EXPECT_EQ(RegEnumValue(key.get(), 0, name, &cch, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 4u);
}

TEST_F(RegistryTest, FailuresGiveTheOriginalCodes) {
  HKEY h = nullptr;
  DWORD cb = 0;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "No\\Such\\Key", 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(key.get(), "missing", nullptr, nullptr, nullptr, &cb),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValue(key.get(), "missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Missing"), ERROR_FILE_NOT_FOUND);
  DWORD cch = 8;
  char name[8];
  EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValue(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegQueryValueEx(key.get(), "x", nullptr, nullptr, reinterpret_cast<LPBYTE>(name),
                            nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueEx(key.get(), "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), 0, nullptr, 0,
                           KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_INVALID_PARAMETER);

  // A read-only handle writes nothing.
  platform::RegKey ro;
  ASSERT_EQ(ro.Open(HKEY_CURRENT_USER, "K", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(Set(ro.get(), "v", REG_SZ, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyEx(ro.get(), "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_ACCESS_DENIED);

  // A closed handle and one whose key went away.
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "K", 0, KEY_READ, &closed), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueEx(closed, "v", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "k"), ERROR_SUCCESS);
  EXPECT_EQ(Set(key.get(), "v", REG_SZ, "x"), ERROR_KEY_DELETED);
  // Recreated under the same name, it is a new key: the old handle stays dead.
  platform::RegKey again;
  ASSERT_EQ(again.Create(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
  EXPECT_EQ(Set(key.get(), "v", REG_SZ, "x"), ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, DeleteKeyAndDeleteTree) {
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32"), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("ThreadingModel", "Apartment"), ERROR_SUCCESS);
  key.Close();
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "CLSID\\{2}"), ERROR_SUCCESS);
  key.Close();

  // A key with subkeys cannot go alone.
  EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "CLSID\\{1}"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "CLSID\\{1}"), ERROR_SUCCESS);

  // A tree goes whole; with no subkey, only what lies below the key goes.
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "CLSID\\{2}\\a\\b\\c"), ERROR_SUCCESS);
  key.Close();
  ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, "CLSID", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("kept?", "no"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(key.get(), nullptr), ERROR_SUCCESS);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueEx(key.get(), "kept?", nullptr, nullptr, nullptr, &cb),
            ERROR_FILE_NOT_FOUND);
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{2}\\a", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &h), ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(key.SetString("after", "yes"), ERROR_SUCCESS);  // the key itself lives on
}

// Children write into one key at the same moment; every write must land.
TEST_F(RegistryTest, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kChildren = 4;
  constexpr int kValuesEach = 40;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char b;
      (void)!read(go[0], &b, 1);  // all start together once the pipe closes
      for (int i = 0; i < kValuesEach; ++i) {
        platform::RegKey key;
        std::string name = "c" + std::to_string(c) + "v" + std::to_string(i);
        LONG err = key.Create(HKEY_CURRENT_USER, "Software\\Shared");
        if (err == ERROR_SUCCESS) err = key.SetString(name, name);
        if (err != ERROR_SUCCESS) {
          std::fprintf(stderr, "writer %d, value %d: error %d\n", c, i, static_cast<int>(err));
          _exit(1);
        }
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  platform::RegKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "software\\shared", KEY_READ), ERROR_SUCCESS);
  for (int c = 0; c < kChildren; ++c) {
    for (int i = 0; i < kValuesEach; ++i) {
      std::string name = "c" + std::to_string(c) + "v" + std::to_string(i), text;
      EXPECT_EQ(key.QueryString(name, &text), ERROR_SUCCESS) << name;
      EXPECT_EQ(text, name);
    }
  }
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_SUCCESS);
  char name[16];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyEx(h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);  // one "Shared" key, not one per writer
  RegCloseKey(h);
}

TEST_F(RegistryTest, StoreLivesInTheNamedFile) {
  EXPECT_EQ(platform::RegistryPath(), m_path);
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "X"), ERROR_SUCCESS);
  EXPECT_TRUE(platform::FileExists(m_path));
  const char* home = std::getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "";
  unsetenv("ORVALO_REGISTRY");
  setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
  EXPECT_EQ(platform::RegistryPath(), m_dir + "/orvalo/registry.db");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(platform::RegistryPath(), "/home/someone/.config/orvalo/registry.db");
  setenv("HOME", savedHome.c_str(), 1);
}

// Runs fn in a child process; as root the child first becomes "nobody", so
// that file modes bind it as they bind a user. Returns fn's result (0 for
// success), or -1 when the child did not end normally.
int RunAsUser(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(100);
    _exit(fn());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// What a user who may only read the store can do: 0, or the failing step.
int ReadButNotWrite() {
  platform::RegKey key;
  if (key.Open(HKEY_CURRENT_USER, "Software\\Orvalo", KEY_READ) != ERROR_SUCCESS) return 1;
  std::string text;
  if (key.QueryString("Group", &text) != ERROR_SUCCESS || text != "239.1.2.3") return 2;
  char name[64];
  DWORD cch = sizeof name;
  if (RegEnumValue(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 3;
  platform::RegKey rw;
  if (rw.Create(HKEY_CURRENT_USER, "Software\\Orvalo\\New") != ERROR_ACCESS_DENIED) return 4;
  return 0;
}

TEST_F(RegistryTest, AStoreThatMayOnlyBeReadIsReadAndLeftAsItWas) {
  {
    platform::RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Orvalo"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("Group", "239.1.2.3"), ERROR_SUCCESS);
  }
  // Let go of this process's connection (its log goes with it).
  setenv("ORVALO_REGISTRY", (m_dir + "/other.db").c_str(), 1);
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  setenv("ORVALO_REGISTRY", m_path.c_str(), 1);
  const std::string folder = platform::DirName(m_path);
  for (const std::string& d : {m_dir, m_dir + "/cfg", folder}) ASSERT_EQ(chmod(d.c_str(), 0755), 0);
  struct {
    const char* szWhat;
    mode_t fileMode, folderMode;
  } cases[] = {{"file 0444", 0444, 0777}, {"folder 0555", 0644, 0555}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.szWhat);
    ASSERT_EQ(chmod(m_path.c_str(), c.fileMode), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
    EXPECT_EQ(RunAsUser(ReadButNotWrite), 0);
    EXPECT_FALSE(platform::FileExists(m_path + "-wal"));
    EXPECT_FALSE(platform::FileExists(m_path + "-shm"));
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(m_path.c_str(), 0644), 0);
  }
}

TEST_F(RegistryTest, ReadingAMissingStoreCreatesNothing) {
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  char name[64];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyEx(HKEY_CURRENT_USER, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_FALSE(platform::DirectoryExists(platform::DirName(m_path)));
  // The first write makes it, and the next read sees it.
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software"), ERROR_SUCCESS);
  EXPECT_TRUE(platform::FileExists(m_path));
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software", 0, KEY_READ, &h), ERROR_SUCCESS);
  RegCloseKey(h);
}

TEST_F(RegistryTest, CaseFoldingEndsAtTheLetters) {
  // 'Z' and 'z' are one; the characters beside the letters ('@' '[' and
  // '`' '{') are not folded.
  platform::RegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Fold"), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Zone", "upper"), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("zONE", "lower"), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(key.QueryString("ZONE", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "lower");
  for (auto [a, b] : {std::pair<const char*, const char*>{"a@", "a`"}, {"a[", "a{"}}) {
    ASSERT_EQ(key.SetString(a, "first"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(b, "second"), ERROR_SUCCESS);
    ASSERT_EQ(key.QueryString(a, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "first") << a;
  }
  platform::RegKey sub;
  ASSERT_EQ(sub.Create(key.get(), "Zed"), ERROR_SUCCESS);
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyEx(key.get(), "zED", 0, KEY_READ, &h), ERROR_SUCCESS);
  RegCloseKey(h);
}

}  // namespace
