// An SQLite connection to one registry database with its prepared
// statements. Not thread-safe: its store uses it under a mutex.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>

#include "RegistryApi.h"

namespace quorvane {
namespace posix {
namespace registry {

// The statements every connection keeps prepared.
enum class Sql {
  kRoot,
  kChild,
  kParent,
  kInsertKey,
  kKeyExists,
  kHasChildren,
  kDeleteKey,
  kSetValue,
  kQueryValue,
  kEnumKey,
  kNextKey,
  kEnumValue,
  kNextValue,
  kDeleteValue,
  kDeleteValues,
  kFreePages,
  kCount
};

class Connection final {
 public:
  // Opens the existing database `path`, read-write or read-only; it is not
  // written to (no schema, no journal switch) until SetUp. Null with the
  // Windows error: ERROR_FILE_NOT_FOUND when it holds no registry yet (a
  // reader sees it empty), ERROR_BADDB when it is damaged.
  static Connection* Open(const std::string& path, bool writable, LONG* error);
  // Makes `path` (whose folder exists) and sets it up for writing.
  static Connection* Create(const std::string& path, LONG* error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Writable() const { return writable_; }
  pid_t Owner() const { return owner_; }
  // False when this is a frozen read-only copy and a writer has changed
  // the files since: the caller opens the database again.
  bool Current() const;
  // Before the first write: WAL and the current schema, made only when
  // missing, so readers never wait on it.
  LONG SetUp();
  bool InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }
  // After a committed write that freed many pages: gives them back to the
  // file system and truncates the WAL.
  void ReclaimSpace();
  // Changes whenever the database changed, through any connection; valid
  // while a statement's read is open.
  unsigned DataVersion() const;

  // The statement, reset and unbound; null if it cannot be prepared.
  sqlite3_stmt* Statement(Sql which);
  bool Exec(const char* sql);
  // The Windows error for an SQLite failure of a read or a write.
  LONG Error(int code, bool writing) const;
  // The Windows error for the connection's last failure.
  LONG LastError(bool writing) const { return Error(sqlite3_extended_errcode(db_), writing); }

 private:
  // Identity of the database and its WAL, for a frozen copy.
  struct Files {
    struct stat db {}, wal {};
    bool hasWal = false;
    bool operator==(const Files& other) const;
  };
  static Files Look(const std::string& path);
  static Connection* OpenAs(const std::string& name, bool writable, bool create, LONG* error);
  Connection(sqlite3* db, bool writable);

  sqlite3* db_;
  const bool writable_;
  const pid_t owner_;
  bool setUp_ = false;
  // Set for a copy opened immutable (no WAL index can be made beside it).
  std::string frozenPath_;
  Files frozenFiles_;
  std::array<sqlite3_stmt*, static_cast<size_t>(Sql::kCount)> statements_{};
};

// A statement for one use: reset when the scope ends, so no finished read
// keeps its snapshot (which would make the next write transaction fail).
class Query final {
 public:
  Query(Connection& connection, Sql which) : statement_(connection.Statement(which)) {}
  ~Query() {
    if (statement_ != nullptr) sqlite3_reset(statement_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  sqlite3_stmt* Get() const { return statement_; }

 private:
  sqlite3_stmt* const statement_;
};

// A write transaction (BEGIN IMMEDIATE: the write lock is taken first, so
// two writers never both read and then collide); rolled back unless
// committed. Inside a transaction already open it is a savepoint, so a
// failed write undoes only itself.
class WriteTransaction final {
 public:
  explicit WriteTransaction(Connection& connection);
  ~WriteTransaction();
  bool Begun() const { return begun_; }
  bool Commit();

 private:
  Connection& connection_;
  const bool nested_;
  bool begun_;
  bool done_ = false;
};

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
