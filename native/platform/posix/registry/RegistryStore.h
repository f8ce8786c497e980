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
// Readers never take the write lock (not even to make the schema): a
// writer stopped mid-transaction holds up only other writers. A store this
// user may read but not write is read, and every write answers
// ERROR_ACCESS_DENIED.
// Threads: one connection per store and process, used under the store's
// mutex; a child after fork opens its own (SQLite connections must not cross
// fork). Prepared statements are kept with the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "RegistryConnection.h"
#include "RegistryNames.h"

namespace quorvane {
namespace posix {
namespace registry {

// A value as read: its type and size, and its bytes only when the caller
// can take them.
struct ValueRead {
  int64_t capacity = -1;  // bytes the caller's buffer holds; -1: no buffer
  DWORD type = 0;
  DWORD size = 0;
  bool loaded = false;  // data holds the bytes
  std::string data;
};

class RegistryStore final {
 public:
  // Roots of hives in a store that does not exist (yet) are negative ids:
  // they read as empty, and the first write makes the store and finds the
  // real root. So is the user's Software\Classes, until a write makes it:
  // a reader never writes.
  static constexpr int64_t kClasses = -8;

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
  LONG QueryValue(int64_t key, const Name& name, ValueRead* value);
  // Enumeration walks on from the previous call's entry when `walker` (the
  // handle) asks for the next index and the key gained or lost no entry
  // meanwhile, so a whole walk is linear whatever else reads or rewrites.
  LONG EnumKey(int64_t key, uintptr_t walker, DWORD index, std::string* name);
  LONG EnumValue(int64_t key, uintptr_t walker, DWORD index, std::string* name, ValueRead* value);
  // The handle `walker` is closed: its place in any walk is dropped.
  void Forget(uintptr_t walker);
  LONG DeleteValue(int64_t key, const Name& name);
  // Deletes the last key of the path; refused while it has subkeys, and
  // always for a hive's root.
  LONG DeleteKey(int64_t from, const std::vector<Name>& path);

  // For the reg tool's import, one thread only: from HoldWrites to
  // FinishWrites every write to a store joins one transaction of that
  // store, committed or rolled back at the end.
  static void HoldWrites();
  static LONG FinishWrites(bool commit);

 private:
  enum class Kind { User, Machine };
  explicit RegistryStore(Kind kind);
  ~RegistryStore();

  // Where a handle's last enumeration call stopped. The stamp is the key's
  // generation, or the database's data version in a file too old to have one.
  struct Cursor {
    int64_t key = 0;
    DWORD index = 0;
    bool byGeneration = false;
    int64_t stamp = 0;
    int64_t rowid = 0;
    std::string folded;
  };
  using Cursors = std::unordered_map<uintptr_t, Cursor>;

  // Runs `read` on the existing key `key`; `none` when the hive is empty.
  // Unless `checked`, `read` itself answers ERROR_KEY_DELETED for a key gone.
  LONG Read(int64_t key, LONG none, const std::function<LONG(Connection&, int64_t)>& read, bool checked = true);
  // Reads the row at `index` with `at`, or with `next` from the cursor when
  // it stopped just before; `bind` binds the statement's other parameters.
  LONG Enumerate(Connection& c, Cursors& cursors, uintptr_t walker, int64_t key, DWORD index, Sql next, Sql at,
                 const std::function<void(sqlite3_stmt*)>& bind, const std::function<void(sqlite3_stmt*)>& read);
  // One write transaction on the existing key `from` (a hive's root made
  // real first); committed when `change` succeeds. A change that `frees`
  // space (a delete) hands it back to the file system when it is large.
  LONG Write(int64_t from, const std::function<LONG(Connection&, int64_t)>& change, bool frees = false);
  // The connection, opened for writing when asked; null with the error the
  // caller answers (reads of an absent store get ERROR_FILE_NOT_FOUND).
  Connection* Get(bool forWrite, LONG* error);

  const Kind kind_;
  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  bool held_ = false;
  Cursors keys_, values_;
};

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
