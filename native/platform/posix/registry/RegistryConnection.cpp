// Opening a registry database, its schema and its statements.
#include "RegistryConnection.h"

#include <unistd.h>

#include <cstdlib>

#include "../base/WinError.h"

namespace quorvane {
namespace posix {
namespace registry {
namespace {

// Writers queue behind each other for up to this long before giving up.
constexpr int kBusyTimeoutMs = 30000;

// Free pages (of 4 KiB) that a write leaves before they are handed back.
constexpr int64_t kReclaimPages = 1024;
// The WAL shrinks back to 4 MiB after a checkpoint, rather than keeping the
// size of the largest transaction.
constexpr char kJournalSizeLimit[] = "PRAGMA journal_size_limit = 4194304";

// A value's data is read only when the caller's buffer (?3 bytes; -1 for
// none) holds it: length() of a blob does not load it.
#define QV_VALUE_COLUMNS "rowid, name, type, length(data), CASE WHEN length(data) <= ?3 THEN data END"

#define QV_ENUM_KEYS(rest)                                                                       \
  "SELECT e.name, e.folded, k." QV_GENERATION " FROM keys k LEFT JOIN"                         \
  " (SELECT name, folded FROM keys WHERE parent = ?1 " rest ") e ON 1 WHERE k.id = ?1"
#define QV_ENUM_VALUES(rest)                                                                     \
  "SELECT e.*, k." QV_GENERATION " FROM keys k LEFT JOIN"                                      \
  " (SELECT " QV_VALUE_COLUMNS " FROM reg_values WHERE key = ?1 " rest ") e ON 1 WHERE k.id = ?1"
#define QV_GENERATION "generation"

const char* const kStatements[] = {
    /* kRoot */ "SELECT id FROM keys WHERE parent = 0 AND folded = ?1",
    /* kChild */ "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    /* kParent */ "SELECT parent FROM keys WHERE id = ?1",
    /* kInsertKey */ "INSERT INTO keys (parent, name, folded) VALUES (?1, ?2, ?3)",
    /* kKeyExists */ "SELECT 1 FROM keys WHERE id = ?1",
    /* kHasChildren */ "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    /* kDeleteKey */ "DELETE FROM keys WHERE id = ?1",
    /* kSetValue */
    "INSERT INTO reg_values (key, folded, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    /* kQueryValue */ "SELECT " QV_VALUE_COLUMNS " FROM reg_values WHERE key = ?1 AND folded = ?2",
    // Enumeration answers one row while the key exists: the entry (NULLs past
    // the last) and the key's generation, read in one snapshot.
    /* kEnumKey */ QV_ENUM_KEYS("ORDER BY folded LIMIT 1 OFFSET ?2"),
    /* kNextKey */ QV_ENUM_KEYS("AND folded > ?2 ORDER BY folded LIMIT 1"),
    /* kEnumValue */ QV_ENUM_VALUES("ORDER BY rowid LIMIT 1 OFFSET ?2"),
    /* kNextValue */ QV_ENUM_VALUES("AND rowid > ?2 ORDER BY rowid LIMIT 1"),
    /* kDeleteValue */ "DELETE FROM reg_values WHERE key = ?1 AND folded = ?2",
    /* kDeleteValues */ "DELETE FROM reg_values WHERE key = ?1",
    /* kFreePages */ "PRAGMA freelist_count",
};
static_assert(sizeof kStatements / sizeof kStatements[0] == static_cast<size_t>(Sql::kCount),
              "one SQL text per statement");

// Raised whenever kSchema gains something; older files are brought up to it
// by their next writer.
constexpr int kSchemaVersion = 2;

// Hive roots: parent 0, which no key id takes. values_in_order lets a key's
// values be walked in the order they were first set without a sort. A key's
// generation counts the values and subkeys added to it or taken from it
// (not rewritten), so an enumeration may walk on from its last entry while
// the generation holds, whoever writes meanwhile.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " generation INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys (parent, folded);"
    "CREATE TABLE IF NOT EXISTS reg_values ("
    " key INTEGER NOT NULL,"
    " folded TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE (key, folded));"
    "CREATE INDEX IF NOT EXISTS values_in_order ON reg_values (key);"
    "INSERT OR IGNORE INTO keys (parent, name, folded) VALUES"
    " (0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    " (0, 'HKEY_USERS', 'HKEY_USERS'),"
    " (0, 'HKEY_CURRENT_CONFIG', 'HKEY_CURRENT_CONFIG');";

// Version 1 files gain the generation column.
const char kAddGeneration[] = "ALTER TABLE keys ADD COLUMN generation INTEGER NOT NULL DEFAULT 0";

const char kTriggers[] =
    "CREATE TRIGGER IF NOT EXISTS value_added AFTER INSERT ON reg_values"
    " BEGIN UPDATE keys SET generation = generation + 1 WHERE id = NEW.key; END;"
    "CREATE TRIGGER IF NOT EXISTS value_removed AFTER DELETE ON reg_values"
    " BEGIN UPDATE keys SET generation = generation + 1 WHERE id = OLD.key; END;"
    "CREATE TRIGGER IF NOT EXISTS key_added AFTER INSERT ON keys"
    " BEGIN UPDATE keys SET generation = generation + 1 WHERE id = NEW.parent; END;"
    "CREATE TRIGGER IF NOT EXISTS key_removed AFTER DELETE ON keys"
    " BEGIN UPDATE keys SET generation = generation + 1 WHERE id = OLD.parent; END;"
    "PRAGMA user_version = 2;";

// The enumeration statements of a version 1 file, read by a user who cannot
// bring it up to date: no generation, the data version stands in.
std::string WithoutGeneration(const char* sql) {
  std::string text = sql;
  const std::string column = "k." QV_GENERATION;
  const size_t at = text.find(column);
  if (at != std::string::npos) text.replace(at, column.size(), "NULL");
  return text;
}

// A file name as an SQLite URI path.
std::string Uri(const std::string& path) {
  std::string out = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

bool Connection::Files::operator==(const Files& other) const {
  return SameFile(db, other.db) && hasWal == other.hasWal && (!hasWal || SameFile(wal, other.wal));
}

Connection::Files Connection::Look(const std::string& path) {
  Files files;
  stat(path.c_str(), &files.db);
  files.hasWal = stat((path + "-wal").c_str(), &files.wal) == 0;
  return files;
}

Connection* Connection::Open(const std::string& path, bool writable, LONG* error) {
  if (writable) return OpenAs(path, true, false, error);
  // A reader shares the WAL index when one is there or can be made beside
  // the file. Else no writer is at work and the file alone is the database:
  // read as immutable, and opened again once a writer has changed it.
  Connection* reader = OpenAs(Uri(path) + "?mode=ro", false, false, error);
  if (reader != nullptr || *error == ERROR_BADDB || *error == ERROR_FILE_NOT_FOUND) return reader;
  const Files files = Look(path);
  reader = OpenAs(Uri(path) + "?immutable=1", false, false, error);
  if (reader != nullptr) {
    reader->frozenPath_ = path;
    reader->frozenFiles_ = files;
  }
  return reader;
}

Connection* Connection::Create(const std::string& path, LONG* error) {
  Connection* connection = OpenAs(path, true, true, error);
  if (connection != nullptr && (*error = connection->SetUp()) != ERROR_SUCCESS) {
    delete connection;
    return nullptr;
  }
  return connection;
}

Connection* Connection::OpenAs(const std::string& name, bool writable, bool create, LONG* error) {
  sqlite3* db = nullptr;
  const int flags = (writable ? SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0)
                              : SQLITE_OPEN_READONLY | SQLITE_OPEN_URI) |
                    SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    *error = ERROR_CANTOPEN;
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  Connection* connection = new Connection(db, writable);
  // NORMAL synchronisation keeps every committed transaction through a crash
  // of the process (the WAL is in the kernel's cache); only a power cut may
  // lose the last ones. Per connection: nothing is written.
  if (writable) connection->Exec("PRAGMA synchronous = NORMAL");
  *error = ERROR_SUCCESS;
  // The schema is read here: a damaged file fails now, a file without the
  // tables yet holds no registry.
  if (!create && connection->Statement(Sql::kRoot) == nullptr) {
    const int code = sqlite3_extended_errcode(db);
    *error = code == SQLITE_ERROR ? ERROR_FILE_NOT_FOUND : connection->Error(code, false);
    delete connection;
    return nullptr;
  }
  return connection;
}

Connection::Connection(sqlite3* db, bool writable) : db_(db), writable_(writable), owner_(getpid()) {}

Connection::~Connection() {
  for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

bool Connection::Current() const { return frozenPath_.empty() || Look(frozenPath_) == frozenFiles_; }

unsigned Connection::DataVersion() const {
  unsigned version = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

LONG Connection::SetUp() {
  if (setUp_) return ERROR_SUCCESS;
  // Both are reads: a database already set up takes no lock here.
  auto pragma = [this](const char* sql, std::string* value) {
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      *value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
      rc = SQLITE_OK;
    }
    sqlite3_finalize(s);
    return rc;
  };
  std::string version, mode, vacuum;
  int rc = pragma("PRAGMA user_version", &version);
  if (rc == SQLITE_OK) rc = pragma("PRAGMA journal_mode", &mode);
  // Freed pages go back to the file system (ReclaimSpace). A new file takes
  // the mode only before its first page, so before WAL.
  if (rc == SQLITE_OK && mode != "wal") Exec("PRAGMA auto_vacuum = INCREMENTAL");
  // Switching to WAL takes an exclusive lock without calling the busy
  // handler, so a second process creating the file at the same moment must
  // wait for it here.
  for (int waited = 0; rc == SQLITE_OK && mode != "wal"; waited += 5) {
    rc = pragma("PRAGMA journal_mode = WAL", &mode);
    if ((rc & 0xFF) != SQLITE_BUSY || waited >= kBusyTimeoutMs) continue;
    usleep(5000);
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) return Error(rc, true);
  const int from = std::atoi(version.c_str());
  if (from < kSchemaVersion) {
    WriteTransaction transaction(*this);
    if (!transaction.Begun() || !Exec(kSchema) || (from == 1 && !Exec(kAddGeneration)) || !Exec(kTriggers) ||
        !transaction.Commit())
      return LastError(true);
    // Statements prepared against the old tables are made again.
    for (sqlite3_stmt*& statement : statements_) {
      sqlite3_finalize(statement);
      statement = nullptr;
    }
  }
  // A file made before incremental vacuum is rebuilt once to take it; should
  // another process hold it now, the next writer tries again.
  if (pragma("PRAGMA auto_vacuum", &vacuum) == SQLITE_OK && vacuum != "2" && !InTransaction())
    Exec("PRAGMA auto_vacuum = INCREMENTAL; VACUUM");
  Exec(kJournalSizeLimit);
  setUp_ = true;
  return ERROR_SUCCESS;
}

void Connection::ReclaimSpace() {
  if (!writable_ || InTransaction()) return;
  sqlite3_stmt* s = Statement(Sql::kFreePages);
  const int64_t free = s != nullptr && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
  if (s != nullptr) sqlite3_reset(s);
  if (free < kReclaimPages) return;
  // Best effort, without waiting: a reader or writer elsewhere may hold the
  // pages or the WAL for now (even stopped, for good); the next large delete
  // tries again.
  sqlite3_busy_timeout(db_, 0);
  Exec("PRAGMA incremental_vacuum");
  Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

sqlite3_stmt* Connection::Statement(Sql which) {
  sqlite3_stmt*& statement = statements_[static_cast<size_t>(which)];
  if (statement == nullptr) {
    const char* sql = kStatements[static_cast<size_t>(which)];
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK &&
        sqlite3_prepare_v3(db_, WithoutGeneration(sql).c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement,
                           nullptr) != SQLITE_OK)
      return nullptr;
  } else {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
  return statement;
}

bool Connection::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

LONG Connection::Error(int code, bool writing) const {
  switch (code & 0xFF) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    default:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

WriteTransaction::WriteTransaction(Connection& connection)
    : connection_(connection),
      nested_(connection.InTransaction()),
      begun_(connection.Exec(nested_ ? "SAVEPOINT write" : "BEGIN IMMEDIATE")) {}

WriteTransaction::~WriteTransaction() {
  if (begun_ && !done_) connection_.Exec(nested_ ? "ROLLBACK TO write; RELEASE write" : "ROLLBACK");
}

bool WriteTransaction::Commit() {
  done_ = connection_.Exec(nested_ ? "RELEASE write" : "COMMIT");
  return done_;
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
