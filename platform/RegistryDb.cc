#include "platform/RegistryDb.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Registry.h"

namespace platform::registry {
namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, folded TEXT NOT NULL, written INTEGER NOT NULL,"
    " UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, folded));"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded, written) VALUES"
    " (1, 0, 'HKEY_CLASSES_ROOT', 'hkey_classes_root', 0),"
    " (2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user', 0),"
    " (3, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine', 0);";

// One prepared statement; finalised on destruction.
class Stmt final {
 public:
  Stmt(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
  ~Stmt() { sqlite3_finalize(m_stmt); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Int(int i, std::int64_t v) {
    if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Stmt& Text(int i, std::string_view v) {
    if (m_rc == SQLITE_OK)
      m_rc = sqlite3_bind_text(m_stmt, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                               SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Blob(int i, std::string_view v) {
    // A non-null pointer keeps an empty value a zero-length blob, not NULL.
    if (m_rc == SQLITE_OK)
      m_rc = sqlite3_bind_blob(m_stmt, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                               SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return m_rc == SQLITE_OK ? sqlite3_step(m_stmt) : m_rc; }
  std::int64_t ColInt(int i) { return sqlite3_column_int64(m_stmt, i); }
  std::string ColBytes(int i) {
    const void* p = sqlite3_column_blob(m_stmt, i);
    int n = sqlite3_column_bytes(m_stmt, i);
    return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc;
};

DWORD Win32FromSqlite(int rc, bool fWrite) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_BUSY;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN: return ERROR_CANTOPEN;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ERROR_BADDB;
    case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
    default: return fWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

bool IsBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

// Waits a little longer each time, until the busy timeout has passed.
class Backoff final {
 public:
  // False once the time is up.
  bool Wait() {
    if (m_waitedMs >= kBusyTimeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(m_stepMs));
    m_waitedMs += m_stepMs;
    m_stepMs = m_stepMs < 50 ? m_stepMs * 2 : 50;
    return true;
  }

 private:
  int m_waitedMs = 0;
  int m_stepMs = 1;
};

std::int64_t NowFileTime() { return static_cast<std::int64_t>(FileTimeToU64(GetSystemTimeAsFileTime())); }

// The process's connection, opened for one path. A child process after fork
// must not use its parent's connection: it leaves it alone (not even closing
// it, which would touch the parent's locks) and opens its own.
// Closed when the module holding this code is unloaded or the process exits.
struct Connection {
  ~Connection() {
    if (db != nullptr && pid == getpid()) sqlite3_close(db);
  }
  sqlite3* db = nullptr;  // guarded by g_mutex, like the other fields
  std::string path;
  pid_t pid = 0;
  bool fWritable = false;  // opened for writing; else read-only or empty
  bool fEmpty = false;     // no store on disk: an empty one in memory
};

std::mutex g_mutex;
Connection g_conn;  // guarded by g_mutex

// Opening races with other processes that create the file, set its journal
// mode or recover it; SQLITE_BUSY from those steps does not always go through
// the busy handler, so the whole sequence is retried until the busy timeout.
int TryOpen(const std::string& path, sqlite3** ppDb) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // In WAL mode this keeps every commit atomic and the file consistent after a
  // crash; only the last commits before a power loss may be lost, as with the
  // original registry's lazy flushing.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    int rcEnd = sqlite3_exec(db, rc == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = rcEnd;
  }
  if (rc != SQLITE_OK) {
    if (db != nullptr && !IsBusy(rc))
      OutputDebugString(("registry: cannot open " + path + ": " + sqlite3_errmsg(db) + "\n").c_str());
    sqlite3_close(db);
    return rc;
  }
  *ppDb = db;
  return SQLITE_OK;
}

// The folder holding the store ("." for a bare name).
std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Whether this process may write the store: the file (if any) and its
// folder (where SQLite keeps its -wal and -shm files).
bool IsWritable(const std::string& path) {
  if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) return false;
  return ::access(FolderOf(path).c_str(), W_OK | X_OK) == 0;
}

// A store that this process may only read, opened so that nothing is
// written: read-only, and immutable unless another process's log is there
// to be read (reading that uses the existing -shm file).
DWORD OpenReadOnly(const std::string& path, sqlite3** ppDb) {
  std::error_code ec;
  const bool fLog = std::filesystem::file_size(path + "-wal", ec) > 0 && !ec;
  std::string uri = "file:";
  for (char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  uri += fLog ? "?mode=ro" : "?mode=ro&immutable=1";
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (rc != SQLITE_OK) {
    if (db != nullptr)
      OutputDebugString(
          ("registry: cannot read " + path + ": " + sqlite3_errmsg(db) + "\n").c_str());
    sqlite3_close(db);
    return Win32FromSqlite(rc, false);
  }
  *ppDb = db;
  return ERROR_SUCCESS;
}

// No store on disk yet: reads see an empty one (the roots alone), and
// nothing is created until the first write.
DWORD OpenEmpty(sqlite3** ppDb) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return Win32FromSqlite(rc, false);
  }
  *ppDb = db;
  return ERROR_SUCCESS;
}

DWORD OpenConnection(const std::string& path, sqlite3** ppDb) {
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (!IsWritable(path)) return ERROR_ACCESS_DENIED;
  int rc = SQLITE_OK;
  for (Backoff backoff; ; ) {
    rc = TryOpen(path, ppDb);
    if (!IsBusy(rc) || !backoff.Wait()) break;
  }
  return Win32FromSqlite(rc, true);
}

// The connection for a transaction: a write needs a writable store (made on
// the first write); a read takes the store as it is and writes nothing.
// REQUIRES: g_mutex held.
DWORD CurrentDb(bool fWrite, sqlite3** ppDb) {
  std::string path = RegistryPath();
  pid_t pid = getpid();
  const bool fExists = ::access(path.c_str(), F_OK) == 0;
  if (g_conn.db != nullptr && g_conn.path == path && g_conn.pid == pid &&
      (g_conn.fWritable || !fWrite) && !(g_conn.fEmpty && fExists)) {
    *ppDb = g_conn.db;
    return ERROR_SUCCESS;
  }
  if (g_conn.db != nullptr && g_conn.pid == pid) sqlite3_close(g_conn.db);
  g_conn.db = nullptr;
  sqlite3* db = nullptr;
  bool fWritable = false, fEmpty = false;
  DWORD err;
  if (fWrite || (fExists && IsWritable(path))) {
    err = OpenConnection(path, &db);
    fWritable = true;
  } else if (fExists) {
    err = OpenReadOnly(path, &db);
  } else {
    err = OpenEmpty(&db);
    fEmpty = true;
  }
  if (err != ERROR_SUCCESS) return err;
  g_conn.db = db;
  g_conn.path = path;
  g_conn.pid = pid;
  g_conn.fWritable = fWritable;
  g_conn.fEmpty = fEmpty;
  *ppDb = db;
  return ERROR_SUCCESS;
}

}  // namespace

std::string Fold(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

DWORD Txn::Run(bool fWrite, const std::function<DWORD(Txn&)>& fn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  sqlite3* db = nullptr;
  DWORD err = CurrentDb(fWrite, &db);
  if (err != ERROR_SUCCESS) return err;
  // A transaction that meets another process's lock is rolled back and run
  // again; `fn` must only fill its results, which a retry overwrites.
  for (Backoff backoff;;) {
    int rc = sqlite3_exec(db, fWrite ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      Txn txn(db, fWrite);
      err = fn(txn);
      if (err == ERROR_SUCCESS) {
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return ERROR_SUCCESS;
        err = Win32FromSqlite(rc, fWrite);
      }
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else {
      err = Win32FromSqlite(rc, fWrite);
    }
    if (err != ERROR_BUSY || !backoff.Wait()) return err;
  }
}

DWORD Txn::Fail(int rc) const {
  DWORD err = Win32FromSqlite(rc, m_fWrite);
  return err == ERROR_SUCCESS ? ERROR_BADDB : err;
}

DWORD Txn::CheckKey(std::int64_t id) {
  Stmt s(m_db, "SELECT 1 FROM keys WHERE id = ?");
  int rc = s.Int(1, id).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
}

DWORD Txn::FindChild(std::int64_t parent, std::string_view name, std::int64_t* pId) {
  Stmt s(m_db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
  int rc = s.Int(1, parent).Text(2, Fold(name)).Step();
  if (rc == SQLITE_ROW) {
    *pId = s.ColInt(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

DWORD Txn::CreateChild(std::int64_t parent, std::string_view name, std::int64_t* pId) {
  Stmt s(m_db, "INSERT INTO keys(parent, name, folded, written) VALUES(?, ?, ?, ?)");
  int rc = s.Int(1, parent).Text(2, name).Text(3, Fold(name)).Int(4, NowFileTime()).Step();
  if (rc != SQLITE_DONE) return Fail(rc);
  *pId = sqlite3_last_insert_rowid(m_db);
  return ERROR_SUCCESS;
}

DWORD Txn::HasChildren(std::int64_t id, bool* pHas) {
  Stmt s(m_db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
  int rc = s.Int(1, id).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
  *pHas = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

DWORD Txn::ChildAt(std::int64_t parent, DWORD index, std::string* pName, FILETIME* pWritten) {
  Stmt s(m_db, "SELECT name, written FROM keys WHERE parent = ? ORDER BY folded LIMIT 1 OFFSET ?");
  int rc = s.Int(1, parent).Int(2, index).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc);
  *pName = s.ColBytes(0);
  if (pWritten != nullptr) *pWritten = FileTimeFromU64(static_cast<std::uint64_t>(s.ColInt(1)));
  return ERROR_SUCCESS;
}

DWORD Txn::DeleteTree(std::int64_t id, bool fSelf) {
  // The tree's ids go into a temporary table, then its values and keys go.
  int rc = sqlite3_exec(m_db,
                        "CREATE TEMP TABLE IF NOT EXISTS doomed(id INTEGER PRIMARY KEY);"
                        "DELETE FROM doomed;",
                        nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc);
  Stmt collect(m_db,
               "WITH RECURSIVE sub(id) AS (SELECT ? UNION ALL"
               " SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)"
               " INSERT INTO doomed SELECT id FROM sub");
  rc = collect.Int(1, id).Step();
  if (rc != SQLITE_DONE) return Fail(rc);
  if (!fSelf) {
    Stmt keep(m_db, "DELETE FROM doomed WHERE id = ?");
    rc = keep.Int(1, id).Step();
    if (rc != SQLITE_DONE) return Fail(rc);
    Stmt vals(m_db, "DELETE FROM vals WHERE key = ?");
    rc = vals.Int(1, id).Step();
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  rc = sqlite3_exec(m_db,
                    "DELETE FROM vals WHERE key IN doomed; DELETE FROM keys WHERE id IN doomed;",
                    nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc);
  return fSelf ? ERROR_SUCCESS : Touch(id);
}

DWORD Txn::Touch(std::int64_t id) {
  Stmt s(m_db, "UPDATE keys SET written = ? WHERE id = ?");
  int rc = s.Int(1, NowFileTime()).Int(2, id).Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

DWORD Txn::GetValue(std::int64_t key, std::string_view name, DWORD* pType, std::string* pData) {
  Stmt s(m_db, "SELECT type, data FROM vals WHERE key = ? AND folded = ?");
  int rc = s.Int(1, key).Text(2, Fold(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  *pType = static_cast<DWORD>(s.ColInt(0));
  *pData = s.ColBytes(1);
  return ERROR_SUCCESS;
}

DWORD Txn::SetValue(std::int64_t key, std::string_view name, DWORD type, std::string_view data) {
  Stmt s(m_db,
         "INSERT INTO vals(key, name, folded, type, data) VALUES(?, ?, ?, ?, ?)"
         " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
  int rc = s.Int(1, key).Text(2, name).Text(3, Fold(name)).Int(4, type).Blob(5, data).Step();
  return rc == SQLITE_DONE ? Touch(key) : Fail(rc);
}

DWORD Txn::DeleteValue(std::int64_t key, std::string_view name) {
  Stmt s(m_db, "DELETE FROM vals WHERE key = ? AND folded = ?");
  int rc = s.Int(1, key).Text(2, Fold(name)).Step();
  if (rc != SQLITE_DONE) return Fail(rc);
  return sqlite3_changes(m_db) == 0 ? ERROR_FILE_NOT_FOUND : Touch(key);
}

DWORD Txn::ValueAt(std::int64_t key, DWORD index, std::string* pName, DWORD* pType,
                   std::string* pData) {
  Stmt s(m_db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
  int rc = s.Int(1, key).Int(2, index).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc);
  *pName = s.ColBytes(0);
  *pType = static_cast<DWORD>(s.ColInt(1));
  *pData = s.ColBytes(2);
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
