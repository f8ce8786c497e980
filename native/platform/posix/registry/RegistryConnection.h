// An SQLite connection to one registry database with its prepared
// statements. Not thread-safe: its store uses it under a mutex.
#pragma once

#include <sqlite3.h>
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
  kInsertKey,
  kKeyExists,
  kHasChildren,
  kDeleteKey,
  kSetValue,
  kQueryValue,
  kEnumKey,
  kEnumValue,
  kDeleteValue,
  kDeleteValues,
  kCount
};

class Connection final {
 public:
  // Opens `path` for writing (creating it, WAL mode) or read-only. Null
  // when it cannot be opened so, or holds no registry.
  static Connection* Open(const std::string& path, bool writable);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Writable() const { return writable_; }
  pid_t Owner() const { return owner_; }

  // The statement, reset and unbound; null if it cannot be prepared.
  sqlite3_stmt* Statement(Sql which);
  bool Exec(const char* sql);
  // The Windows error for an SQLite failure of a read or a write.
  LONG Error(int code, bool writing) const;

 private:
  static Connection* OpenAs(const std::string& name, bool writable);
  Connection(sqlite3* db, bool writable);
  bool CreateSchema();

  sqlite3* db_;
  const bool writable_;
  const pid_t owner_;
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
// committed.
class WriteTransaction final {
 public:
  explicit WriteTransaction(Connection& connection);
  ~WriteTransaction();
  bool Begun() const { return begun_; }
  bool Commit();

 private:
  Connection& connection_;
  bool begun_;
  bool done_ = false;
};

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
