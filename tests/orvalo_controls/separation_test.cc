// The add-in library and the file carousel's library in one process: their
// types of the same name (each one's tPacketHeader) never meet, because
// orvalo.so shows nothing but its four server exports and each library's
// own types live in its own namespace.
#include <cxxabi.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Pelago/PelagoCom.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Runtime.h"
#include "orvalo/orvaloCom.h"
#include "platform/File.h"
#include "platform/Module.h"

namespace {

// The names that a shared library's dynamic symbol table defines with
// default visibility: what other modules in the process can bind to.
std::set<std::string> DefinedDynamicSymbols(const char* szPath) {
  std::ifstream in(szPath, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr eh;
  std::memcpy(&eh, file.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_shoff + std::uint64_t{eh.e_shnum} * sizeof(Elf64_Shdr) > file.size())
    return names;
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  std::memcpy(sections.data(), file.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
  for (const Elf64_Shdr& sh : sections) {
    if (sh.sh_type != SHT_DYNSYM || sh.sh_link >= sections.size()) continue;
    const Elf64_Shdr& strtab = sections[sh.sh_link];
    if (sh.sh_offset + sh.sh_size > file.size() || strtab.sh_offset + strtab.sh_size > file.size())
      continue;
    for (std::uint64_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + sh.sh_offset + off, sizeof sym);
      const int bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || sym.st_shndx == SHN_ABS || sym.st_name >= strtab.sh_size ||
          (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE) ||
          ELF64_ST_VISIBILITY(sym.st_other) != STV_DEFAULT)
        continue;
      const char* szName = file.data() + strtab.sh_offset + sym.st_name;
      names.insert(std::string(szName, strnlen(szName, strtab.sh_size - sym.st_name)));
    }
  }
  return names;
}

std::string Demangle(const std::string& name) {
  int status = 0;
  char* p = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  std::string out = status == 0 && p != nullptr ? p : name;
  std::free(p);
  return out;
}

bool StartsWith(const std::string& s, const char* szPrefix) { return s.rfind(szPrefix, 0) == 0; }

// Whether every name in a demangled type is the language's or the standard
// library's.
bool OnlyStandardNames(const std::string& text) {
  static const std::set<std::string> kBuiltIn = {
      "bool",   "char", "char8_t", "char16_t", "char32_t", "wchar_t",
      "short",  "int",  "long",    "signed",   "unsigned", "float",
      "double", "void", "const",   "volatile", "decltype", "nullptr_t"};
  static const std::regex kName("[A-Za-z_][A-Za-z0-9_]*(::[A-Za-z_][A-Za-z0-9_]*)*");
  for (std::sregex_iterator it(text.begin(), text.end(), kName), end; it != end; ++it) {
    const std::string word = it->str();
    if (kBuiltIn.count(word) == 0 && !StartsWith(word, "std::") && !StartsWith(word, "__gnu_cxx::"))
      return false;
  }
  return true;
}

// The standard library's own inline pieces (tables of its header functions,
// and in unoptimised builds the template functions themselves) are the same
// in every module; binding to another module's copy is harmless. So is a
// type_info of a function type made of standard types only (std::function
// makes them).
bool IsStandardLibrary(const std::string& name) {
  for (const char* szPrefix : {"_ZSt", "_ZNSt", "_ZNKSt", "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx",
                               "_ZZSt", "_ZZNSt", "_ZZNKSt"}) {
    if (StartsWith(name, szPrefix)) return true;
  }
  const std::string text = Demangle(name);
  if (StartsWith(text, "std::") || text.find(" for std::") != std::string::npos) return true;
  for (const char* szPrefix : {"typeinfo for ", "typeinfo name for "}) {
    if ((StartsWith(name, "_ZTIF") || StartsWith(name, "_ZTSF")) && StartsWith(text, szPrefix))
      return OnlyStandardNames(text.substr(std::strlen(szPrefix)));
  }
  return false;
}

// What a sanitizer's runtime defines or intercepts, when it is linked in.
bool IsSanitizerRuntime(const std::string& name) {
  for (const char* szPrefix :
       {"__asan", "__ubsan", "__sanitizer", "__lsan", "__tsan", "__msan", "__hwasan",
        "__interceptor", "___interceptor", "__interception", "__sancov", "__llvm_"}) {
    if (StartsWith(name, szPrefix)) return true;
  }
  return false;
}

std::set<std::string> OwnSymbols(const char* szPath) {
  std::set<std::string> names;
  for (const std::string& name : DefinedDynamicSymbols(szPath)) {
    if (!IsStandardLibrary(name) && !IsSanitizerRuntime(name)) names.insert(name);
  }
  return names;
}

const std::set<std::string> kServerExports = {"DllCanUnloadNow", "DllGetClassObject",
                                              "DllRegisterServer", "DllUnregisterServer"};

TEST(SeparationTest, TheAddInLibraryShowsOnlyItsServerExports) {
  EXPECT_EQ(OwnSymbols(ORVALO_SO_PATH), kServerExports);
}

TEST(SeparationTest, TheTwoLibrariesShareNoSymbolButTheServerExports) {
  const std::set<std::string> orvalo = OwnSymbols(ORVALO_SO_PATH);
  const std::set<std::string> pelago = OwnSymbols(PELAGO_SO_PATH);
  ASSERT_GT(pelago.size(), kServerExports.size());  // it exports its engine's classes
  std::set<std::string> both;
  for (const std::string& name : orvalo) {
    if (pelago.count(name) != 0) both.insert(name);
  }
  EXPECT_EQ(both, kServerExports);
  // What the carousel's library shows of its datagram header is its own.
  for (const std::string& name : pelago) {
    const std::string text = Demangle(name);
    if (text.find("tPacketHeader") != std::string::npos) {
      EXPECT_NE(text.find("pelago::tPacketHeader"), std::string::npos) << text;
    }
  }
}

// Both libraries serve their objects side by side in one process.
TEST(SeparationTest, BothServeObjectsInOneProcess) {
  std::string dir;
  ASSERT_EQ(platform::CreateTempDirectory("separation", &dir), ERROR_SUCCESS);
  setenv("ORVALO_REGISTRY", (dir + "/registry.db").c_str(), 1);
  static HMODULE hPinnedPelago = LoadLibrary(PELAGO_SO_PATH);  // kept for the leak checker
  static HMODULE hPinnedOrvalo = LoadLibrary(ORVALO_SO_PATH);
  ASSERT_NE(hPinnedPelago, nullptr);
  ASSERT_NE(hPinnedOrvalo, nullptr);
  ASSERT_EQ(com::CallServerExport(PELAGO_SO_PATH, "DllRegisterServer"), S_OK);
  ASSERT_EQ(com::CallServerExport(ORVALO_SO_PATH, "DllRegisterServer"), S_OK);
  {
    com::CComPtr<IPelagoRcv> rcv;
    com::CComPtr<IorvaloSnd> snd;
    ASSERT_EQ(rcv.CoCreateInstance(CLSID_PelagoRcv), S_OK);
    ASSERT_EQ(snd.CoCreateInstance(CLSID_orvaloSnd), S_OK);
    EXPECT_EQ(rcv->Test(), S_OK);
    EXPECT_EQ(snd->Command(com::CComBSTR("writeproblem")), S_OK);
  }
  unsetenv("ORVALO_REGISTRY");
  platform::DeleteTree(dir);
}

}  // namespace
