// orvreg: prints and edits the registry store, like a small registry editor.
//
//   orvreg path                              the database file in use
//   orvreg list [-r] <key>                   values and subkeys (-r: the whole tree)
//   orvreg set <key> <name> sz <text>        REG_SZ, stored with its NUL
//   orvreg set <key> <name> dword <number>   REG_DWORD (decimal or 0x hex)
//   orvreg set <key> <name> binary <hex>     REG_BINARY
//   orvreg delete <key> <name>               deletes one value
//   orvreg deltree <key>                     deletes a key and all below it
//
// <key> starts with its root: HKCR, HKCU, HKLM or the full root names, e.g.
// "HKCU\Software\Microsoft\Office\Orvalo". The name "@" (or "") is the
// default value. Exit code 0 on success, 1 on a registry error, 2 on misuse.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace {

int Usage() {
  std::fputs(
      "usage: orvreg path\n"
      "       orvreg list [-r] <key>\n"
      "       orvreg set <key> <name> sz|dword|binary <data>\n"
      "       orvreg delete <key> <name>\n"
      "       orvreg deltree <key>\n"
      "<key> begins with HKCR, HKCU or HKLM; the name @ is the default value\n",
      stderr);
  return 2;
}

int Fail(const std::string& what, LONG err) {
  const char* szWhy = err == ERROR_ACCESS_DENIED
                          ? " (access denied: the registry is read-only here)"
                      : err == ERROR_FILE_NOT_FOUND ? " (not found)"
                                                    : "";
  std::fprintf(stderr, "orvreg: %s: error %ld%s\n", what.c_str(), static_cast<long>(err), szWhy);
  return 1;
}

// Splits "HKCU\a\b" into its root and subkey path.
bool ParseKey(const std::string& text, HKEY* pRoot, std::string* pSub) {
  std::size_t cut = text.find('\\');
  std::string root = text.substr(0, cut);
  *pSub = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  for (char& c : root) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") *pRoot = HKEY_CLASSES_ROOT;
  else if (root == "HKCU" || root == "HKEY_CURRENT_USER") *pRoot = HKEY_CURRENT_USER;
  else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") *pRoot = HKEY_LOCAL_MACHINE;
  else return false;
  return true;
}

std::string ValueName(const std::string& arg) { return arg == "@" ? std::string() : arg; }

// Text with non-printable bytes escaped and a final NUL left out.
std::string Quote(const std::string& data) {
  std::string s = "\"";
  std::size_t n = data.size();
  if (n > 0 && data[n - 1] == '\0') --n;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      s += buf;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s + "\"";
}

std::string Format(DWORD type, const std::string& data) {
  char buf[64];
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    std::snprintf(buf, sizeof buf, "REG_DWORD 0x%08x (%u)", v, v);
    return buf;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ)
    return std::string(type == REG_SZ ? "REG_SZ " : "REG_EXPAND_SZ ") + Quote(data);
  std::string s = type == REG_BINARY ? "REG_BINARY" : "type " + std::to_string(type);
  for (unsigned char c : data) {
    std::snprintf(buf, sizeof buf, " %02x", c);
    s += buf;
  }
  return s;
}

int List(HKEY hKey, const std::string& title, bool fRecursive) {
  std::printf("[%s]\n", title.c_str());
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD cchName = sizeof name, type = 0, cbData = 0;
    LONG err = RegEnumValue(hKey, i, name, &cchName, nullptr, &type, nullptr, &cbData);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return Fail("enumerate values of " + title, err);
    std::string data(cbData, '\0');
    err = RegQueryValueEx(hKey, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                          &cbData);
    if (err != ERROR_SUCCESS) return Fail("read " + std::string(name), err);
    data.resize(cbData);
    std::printf("  %s = %s\n", cchName == 0 ? "@" : Quote(name).c_str(), Format(type, data).c_str());
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char name[kMaxRegKeyNameChars + 1];
    DWORD cchName = sizeof name;
    LONG err = RegEnumKeyEx(hKey, i, name, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return Fail("enumerate subkeys of " + title, err);
    subkeys.emplace_back(name, cchName);
  }
  for (const std::string& sub : subkeys) {
    if (!fRecursive) {
      std::printf("  %s\\\n", sub.c_str());
      continue;
    }
    platform::RegKey child;
    LONG err = child.Open(hKey, sub, KEY_READ);
    if (err != ERROR_SUCCESS) return Fail("open " + title + "\\" + sub, err);
    int rc = List(child.get(), title + "\\" + sub, true);
    if (rc != 0) return rc;
  }
  return 0;
}

bool ParseData(const std::string& type, const std::string& text, DWORD* pType, std::string* pData) {
  if (type == "sz") {
    *pType = REG_SZ;
    *pData = text + '\0';
    return true;
  }
  if (type == "dword") {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || v > 0xFFFFFFFFull) return false;
    DWORD dw = static_cast<DWORD>(v);
    *pType = REG_DWORD;
    pData->assign(reinterpret_cast<const char*>(&dw), 4);
    return true;
  }
  if (type == "binary") {
    if (text.size() % 2 != 0) return false;
    pData->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
      char* end = nullptr;
      std::string byte = text.substr(i, 2);
      unsigned long v = std::strtoul(byte.c_str(), &end, 16);
      if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(byte[0]))) return false;
      pData->push_back(static_cast<char>(v));
    }
    *pType = REG_BINARY;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& cmd = args[0];
  if (cmd == "path" && args.size() == 1) {
    std::printf("%s\n", platform::RegistryPath().c_str());
    return 0;
  }
  bool fRecursive = args.size() > 1 && args[1] == "-r";
  if (fRecursive) args.erase(args.begin() + 1);
  HKEY hRoot = nullptr;
  std::string sub;
  if (args.size() < 2 || !ParseKey(args[1], &hRoot, &sub)) return Usage();
  platform::RegKey key;
  if (cmd == "list" && args.size() == 2) {
    LONG err = key.Open(hRoot, sub, KEY_READ);
    return err != ERROR_SUCCESS ? Fail("open " + args[1], err) : List(key.get(), args[1], fRecursive);
  }
  if (cmd == "set" && args.size() == 5) {
    DWORD type = REG_NONE;
    std::string data;
    if (!ParseData(args[3], args[4], &type, &data)) return Usage();
    LONG err = key.Create(hRoot, sub);
    if (err != ERROR_SUCCESS) return Fail("create " + args[1], err);
    err = RegSetValueEx(key.get(), ValueName(args[2]).c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    return err != ERROR_SUCCESS ? Fail("set " + args[2], err) : 0;
  }
  if (cmd == "delete" && args.size() == 3) {
    LONG err = key.Open(hRoot, sub, KEY_ALL_ACCESS);
    if (err == ERROR_SUCCESS) err = RegDeleteValue(key.get(), ValueName(args[2]).c_str());
    return err != ERROR_SUCCESS ? Fail("delete " + args[2], err) : 0;
  }
  if (cmd == "deltree" && args.size() == 2 && !sub.empty()) {
    LONG err = RegDeleteTree(hRoot, sub.c_str());
    return err != ERROR_SUCCESS ? Fail("delete " + args[1], err) : 0;
  }
  return Usage();
}
