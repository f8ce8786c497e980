// One registry database: the user's (HKEY_CURRENT_USER and the user's
// classes) or the machine's (HKEY_LOCAL_MACHINE, HKEY_USERS).
//
// Layout: a table of keys (id, parent, name, folded name; hive roots have
// parent 0 and the hive's name) and a table of values (key, folded name,
// name, type, data as a blob). Key ids are never reused, so a handle to a
// deleted key cannot reach a newer key of the same name: it answers
// ERROR_KEY_DELETED.
//
// Processes: SQLite in WAL mode with a busy timeout; every write is one
// BEGIN IMMEDIATE transaction, so concurrent writers queue instead of
// failing, and a process killed mid-write leaves the last committed state.
// Threads: one connection per store and process, used under the store's
// mutex; a child after fork opens its own (SQLite connections must not cross
// fork). Prepared statements are kept with the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RegistryConnection.h"
#include "RegistryNames.h"

namespace quorvane {
namespace posix {
namespace registry {

class RegistryStore final {
 public:
  // Roots of hives in a store that does not exist (yet) are negative ids:
  // they read as empty, and the first write makes the store and finds the
  // real root.

  static RegistryStore& User();
  static RegistryStore& Machine();

  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Whether this user may write here (the database is opened for writing).
  bool Writable();
  LONG Root(const char* hive, int64_t* id);
  LONG KeyExists(int64_t key);
  LONG Open(int64_t from, const std::vector<Name>& path, int64_t* id);
  LONG Create(int64_t from, const std::vector<Name>& path, int64_t* id, bool* created);
  LONG SetValue(int64_t key, const Name& name, DWORD type, const BYTE* data, DWORD size);
  LONG QueryValue(int64_t key, const Name& name, DWORD* type, std::string* data);
  LONG EnumKey(int64_t key, DWORD index, std::string* name);
  LONG EnumValue(int64_t key, DWORD index, std::string* name, DWORD* type, std::string* data);
  LONG DeleteValue(int64_t key, const Name& name);
  // Deletes the last key of the path; refused while it has subkeys.
  LONG DeleteKey(int64_t from, const std::vector<Name>& path);

 private:
  enum class Kind { User, Machine };
  explicit RegistryStore(Kind kind);
  ~RegistryStore();

  // Runs `which` on `key` (bound as ?1, the rest by `bind`) and hands its
  // row to `read`; `none` when there is no row or the hive is empty.
  LONG ReadOne(int64_t key, Sql which, LONG none, const std::function<void(sqlite3_stmt*)>& bind,
               const std::function<void(sqlite3_stmt*)>& read);
  // One write transaction on the existing key `from` (a hive's root made
  // real first); committed when `change` succeeds.
  LONG Write(int64_t from, const std::function<LONG(Connection&, int64_t)>& change);
  // The connection, opened for writing when asked; null with the error the
  // caller answers (reads of an absent store get ERROR_FILE_NOT_FOUND).
  Connection* Get(bool forWrite, LONG* error);

  const Kind kind_;
  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
};

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
