// Opening a registry database, its schema and its statements.
#include "RegistryConnection.h"

#include <unistd.h>

#include "../WinError.h"

namespace quorvane {
namespace posix {
namespace registry {
namespace {

// Writers queue behind each other for up to this long before giving up.
constexpr int kBusyTimeoutMs = 30000;

const char* const kStatements[] = {
    /* kRoot */ "SELECT id FROM keys WHERE parent = 0 AND folded = ?1",
    /* kChild */ "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    /* kInsertKey */ "INSERT INTO keys (parent, name, folded) VALUES (?1, ?2, ?3)",
    /* kKeyExists */ "SELECT 1 FROM keys WHERE id = ?1",
    /* kHasChildren */ "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    /* kDeleteKey */ "DELETE FROM keys WHERE id = ?1",
    /* kSetValue */
    "INSERT INTO reg_values (key, folded, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    /* kQueryValue */ "SELECT type, data FROM reg_values WHERE key = ?1 AND folded = ?2",
    /* kEnumKey */ "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    /* kEnumValue */ "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    /* kDeleteValue */ "DELETE FROM reg_values WHERE key = ?1 AND folded = ?2",
    /* kDeleteValues */ "DELETE FROM reg_values WHERE key = ?1",
};
static_assert(sizeof kStatements / sizeof kStatements[0] == static_cast<size_t>(Sql::kCount),
              "one SQL text per statement");

// Hive roots: parent 0, which no key id takes.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys (parent, folded);"
    "CREATE TABLE IF NOT EXISTS reg_values ("
    " key INTEGER NOT NULL,"
    " folded TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE (key, folded));"
    "INSERT OR IGNORE INTO keys (parent, name, folded) VALUES"
    " (0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    " (0, 'HKEY_USERS', 'HKEY_USERS');";

}  // namespace

Connection* Connection::Open(const std::string& path, bool writable) {
  if (!writable) {
    // A reader shares the WAL index when the writer left one it can read;
    // else nothing is in the WAL and the file alone is the database.
    Connection* reader = OpenAs("file:" + path + "?mode=ro", false);
    return reader != nullptr ? reader : OpenAs("file:" + path + "?immutable=1", false);
  }
  return OpenAs(path, true);
}

Connection* Connection::OpenAs(const std::string& name, bool writable) {
  sqlite3* db = nullptr;
  const int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX
                             : SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  Connection* connection = new Connection(db, writable);
  const bool ready = writable ? connection->CreateSchema() : connection->Statement(Sql::kRoot) != nullptr;
  if (!ready) {
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

bool Connection::CreateSchema() {
  // WAL: readers never wait for the writer. NORMAL synchronisation keeps
  // every committed transaction through a crash of the process (the WAL is
  // in the kernel's cache); only a power cut may lose the last ones.
  // Switching to WAL takes an exclusive lock without calling the busy
  // handler, so a second process creating the file at the same moment
  // must wait for it here.
  bool wal = Exec("PRAGMA journal_mode = WAL");
  for (int waited = 0; !wal && (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY && waited < kBusyTimeoutMs; waited += 5) {
    usleep(5000);
    wal = Exec("PRAGMA journal_mode = WAL");
  }
  if (!wal || !Exec("PRAGMA synchronous = NORMAL")) return false;
  WriteTransaction transaction(*this);
  return transaction.Begun() && Exec(kSchema) && transaction.Commit();
}

sqlite3_stmt* Connection::Statement(Sql which) {
  sqlite3_stmt*& statement = statements_[static_cast<size_t>(which)];
  if (statement == nullptr) {
    if (sqlite3_prepare_v3(db_, kStatements[static_cast<size_t>(which)], -1, SQLITE_PREPARE_PERSISTENT, &statement,
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
    : connection_(connection), begun_(connection.Exec("BEGIN IMMEDIATE")) {}

WriteTransaction::~WriteTransaction() {
  if (begun_ && !done_) connection_.Exec("ROLLBACK");
}

bool WriteTransaction::Commit() {
  done_ = connection_.Exec("COMMIT");
  return done_;
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
