// The registry stand-in: a persistent store of keys and typed values under
// three roots, with the Win32 registry functions' names, arguments and codes.
//
// Backed by one SQLite database file: $ORVALO_REGISTRY if set, else
// $XDG_CONFIG_HOME/orvalo/registry.db, else ~/.config/orvalo/registry.db
// (folders are created as needed). The path is looked up on every call, so a
// test that sets ORVALO_REGISTRY before a call gets its own store, in every
// module of the process and in its children.
//
// Modelled: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE as three
// independent roots (no merged classes view, no per-user hives); value types
// are stored as given (REG_SZ, REG_DWORD and REG_BINARY are the ones used)
// with their exact bytes: a REG_SZ written without its NUL is read back
// without it. Key and value names compare without regard to ASCII case; the
// case first written is kept for display. Left out: security, volatile keys,
// notifications, remote registries, key classes, REG_EXPAND_SZ expansion.
//
// Every write is one SQLite transaction (WAL journal, busy timeout), so that
// processes writing at once lose nothing and a killed process leaves the store
// consistent. Thread-safe: calls are serialised within a process. A handle
// stays valid until RegCloseKey; once its key is deleted, calls through it
// give ERROR_KEY_DELETED. Every module (program or shared library) links its
// own copy of this layer, so a handle is valid only in the module that opened
// it; the predefined roots are valid everywhere.
//
// Every function returns ERROR_SUCCESS or a Win32 code: ERROR_FILE_NOT_FOUND
// for a missing key or value, ERROR_ACCESS_DENIED for a write through a
// read-only handle or RegDeleteKey on a key with subkeys, ERROR_MORE_DATA for a
// too-small buffer, ERROR_NO_MORE_ITEMS past the end of an enumeration,
// ERROR_INVALID_HANDLE for a closed or unknown handle, ERROR_INVALID_PARAMETER
// for bad arguments, ERROR_CANTOPEN / ERROR_CANTREAD / ERROR_CANTWRITE /
// ERROR_BADDB / ERROR_BUSY when the database fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Access rights. A handle opened without KEY_SET_VALUE cannot write values,
// one without KEY_CREATE_SUB_KEY cannot create subkeys; predefined roots have
// every right.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyEx options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Longest key name component in characters (bytes here), without the NUL.
inline constexpr DWORD kMaxRegKeyNameChars = 255;

// Subkey paths are separated by '\\'; empty components are skipped, so a
// null or empty subkey names `hKey` itself. A value name null or "" is the
// key's default value.

// Opens an existing key. ulOptions must be 0.
LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                  PHKEY phkResult);

// Opens or creates a key and every missing key on the path. lpClass and
// lpSecurityAttributes are ignored; *lpdwDisposition (may be null) receives
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                    DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                    PHKEY phkResult, LPDWORD lpdwDisposition);

// Stores `cbData` bytes of type `dwType` (replacing type and data of an
// existing value). lpData may be null only when cbData is 0.
LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                   const BYTE* lpData, DWORD cbData);

// Reads a value. *lpType (may be null) receives the type. With lpData null,
// *lpcbData receives the length. With a buffer shorter than the data: nothing
// is copied, *lpcbData receives the length needed, ERROR_MORE_DATA. On success
// *lpcbData holds the number of bytes copied. lpData non-null requires lpcbData.
LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                     LPBYTE lpData, LPDWORD lpcbData);

// The dwIndex-th subkey name in case-insensitive alphabetical order. *lpcchName
// holds the buffer's size in characters including the NUL; on success it
// receives the name's length without the NUL. Too small: ERROR_MORE_DATA and
// *lpcchName unchanged. lpClass must be null; *lpftLastWriteTime (may be null)
// receives the time of the subkey's last change.
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                  LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                  FILETIME* lpftLastWriteTime);

// The dwIndex-th value in the order values were first written: its name as in
// RegEnumKeyEx, its type and data as in RegQueryValueEx (lpType, lpData and
// lpcbData may be null).
LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                  LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName);

// Deletes a subkey that has no subkeys of its own (else ERROR_ACCESS_DENIED),
// with its values. lpSubKey must name a key below hKey.
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey);

// Deletes a subkey with everything below it; with lpSubKey null or empty,
// deletes every value and subkey of hKey but keeps hKey.
LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey);

// Closes an opened key; closing a predefined root is a no-op success.
LONG RegCloseKey(HKEY hKey);

namespace platform {

// The database file the next registry call will use.
std::string RegistryPath();

// An open registry key that is closed on destruction. Movable, not copyable.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY hKey) : m_hKey(hKey) {}
  ~RegKey() { Close(); }
  RegKey(RegKey&& other) noexcept : m_hKey(other.Release()) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Close();
      m_hKey = other.Release();
    }
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  LONG Open(HKEY hRoot, const std::string& subKey, REGSAM sam) {
    Close();
    return RegOpenKeyEx(hRoot, subKey.c_str(), 0, sam, &m_hKey);
  }
  LONG Create(HKEY hRoot, const std::string& subKey) {
    Close();
    return RegCreateKeyEx(hRoot, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr);
  }
  // A REG_SZ value with its terminating NUL.
  LONG SetString(const std::string& name, const std::string& value) {
    return RegSetValueEx(m_hKey, name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
  }
  // A REG_SZ (or REG_EXPAND_SZ) value as text, cut at its first NUL.
  LONG QueryString(const std::string& name, std::string* pValue) const;
  void Close() {
    if (m_hKey != nullptr) RegCloseKey(Release());
  }
  HKEY Release() {
    HKEY h = m_hKey;
    m_hKey = nullptr;
    return h;
  }
  HKEY get() const { return m_hKey; }
  bool IsOpen() const { return m_hKey != nullptr; }

 private:
  HKEY m_hKey = nullptr;
};

}  // namespace platform
