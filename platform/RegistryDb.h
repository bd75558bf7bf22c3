// The SQLite store behind the registry functions (private to the registry).
//
// Keys form a tree of rows (id, parent, name, folded name); values belong to a
// key by id. Names are looked up by their folded (ASCII lower-case) form and
// keep the case first written. Key ids are never reused, so a handle to a
// deleted key cannot reach a newer key of the same name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Win32Types.h"

struct sqlite3;

namespace platform::registry {

// Ids of the three roots.
inline constexpr std::int64_t kClassesRootId = 1;
inline constexpr std::int64_t kCurrentUserId = 2;
inline constexpr std::int64_t kLocalMachineId = 3;

// ASCII lower-case form of a name, the form names compare in.
std::string Fold(std::string_view name);

// One open transaction on the process's connection to the current store.
// Every function returns ERROR_SUCCESS or a Win32 code.
class Txn {
 public:
  // Runs `fn` inside one transaction (a write one when `fWrite`): committed
  // when `fn` returns ERROR_SUCCESS, rolled back otherwise. Calls from all
  // threads of the process are serialised.
  static DWORD Run(bool fWrite, const std::function<DWORD(Txn&)>& fn);

  // ERROR_SUCCESS or ERROR_KEY_DELETED.
  DWORD CheckKey(std::int64_t id);
  // The child `name` of `parent`: ERROR_FILE_NOT_FOUND if missing.
  DWORD FindChild(std::int64_t parent, std::string_view name, std::int64_t* pId);
  DWORD CreateChild(std::int64_t parent, std::string_view name, std::int64_t* pId);
  DWORD HasChildren(std::int64_t id, bool* pHas);
  // The index-th child in folded-name order: ERROR_NO_MORE_ITEMS past the end.
  DWORD ChildAt(std::int64_t parent, DWORD index, std::string* pName, FILETIME* pWritten);
  // Deletes the key's values and all keys below it, and the key itself when
  // `fSelf`.
  DWORD DeleteTree(std::int64_t id, bool fSelf);

  DWORD GetValue(std::int64_t key, std::string_view name, DWORD* pType, std::string* pData);
  DWORD SetValue(std::int64_t key, std::string_view name, DWORD type, std::string_view data);
  DWORD DeleteValue(std::int64_t key, std::string_view name);
  // The index-th value in the order first written: ERROR_NO_MORE_ITEMS past the end.
  DWORD ValueAt(std::int64_t key, DWORD index, std::string* pName, DWORD* pType,
                std::string* pData);

 private:
  explicit Txn(sqlite3* db, bool fWrite) : m_db(db), m_fWrite(fWrite) {}
  DWORD Touch(std::int64_t id);
  DWORD Fail(int rc) const;

  sqlite3* m_db;
  bool m_fWrite;
};

}  // namespace platform::registry
