// Where the registry databases live and the key and value operations on them.
#include "RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include "../files/Folders.h"
#include "../base/WinError.h"
#include "../process/SystemLog.h"
#include "RegistryConnection.h"

namespace quorvane {
namespace posix {
namespace registry {
namespace {

constexpr char kFileName[] = "registry.sqlite3";
constexpr char kMachineFolder[] = "/var/lib/quorvane";

// Makes `path` and any missing parents with `mode`; true when it is a folder.
bool MakeFolder(const std::string& path, mode_t mode) {
  struct stat st;
  return MakeFolders(path, mode) == 0 && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The user's store folder and its missing parents, only where the nearest
// existing folder is the caller's: root with another user's HOME leaves no
// folder of root's in that home.
bool MakeOwnFolder(const std::string& path, mode_t mode) {
  std::string refused;
  const int error = MakeOwnFolders(path, mode, refused);
  if (error == EPERM && !refused.empty())
    LogWarningOnce("the registry makes no folder " + path + ": " + refused + " belongs to another user");
  struct stat st;
  return error == 0 && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The store's folder, when missing, and its file with these exact modes;
// the user's (`own`) only where the caller owns the nearest folder.
bool MakeStoreFiles(const std::string& folder, const std::string& path, mode_t folderMode, mode_t fileMode,
                    bool own) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 &&
      (!(own ? MakeOwnFolder(folder, folderMode) : MakeFolder(folder, folderMode)) ||
       chmod(folder.c_str(), folderMode) != 0))
    return false;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode);
  if (fd < 0) return errno == EEXIST;  // another writer made it first
  const bool made = fchmod(fd, fileMode) == 0;
  close(fd);
  return made;
}

std::string UserFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data != nullptr && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const passwd* user = getpwuid(getuid());
      if (user == nullptr || user->pw_dir == nullptr) return std::string();
      home = user->pw_dir;
    }
    base = std::string(home) + "/.local/share";
  }
  return base + "/quorvane";
}

std::string MachineFolder() {
  const char* folder = std::getenv("QV_REGISTRY_MACHINE_DIR");
  return folder != nullptr && folder[0] == '/' ? folder : kMachineFolder;
}

const char* const kHives[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// Binds UTF-8 text or bytes that SQLite copies.
void Bind(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
  const void* bytes = sqlite3_column_blob(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), size);
}

// Runs a statement that answers at most one row; SQLITE_ROW, SQLITE_DONE or the error.
int StepOnce(sqlite3_stmt* statement) { return statement == nullptr ? SQLITE_ERROR : sqlite3_step(statement); }

LONG FindChild(Connection& c, int64_t parent, const Name& name, int64_t* id) {
  Query q(c, Sql::kChild);
  sqlite3_stmt* s = q.Get();
  if (s == nullptr) return ERROR_CANTREAD;
  sqlite3_bind_int64(s, 1, parent);
  Bind(s, 2, name.folded);
  const int rc = StepOnce(s);
  if (rc == SQLITE_ROW) {
    *id = sqlite3_column_int64(s, 0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : c.Error(rc, false);
}

LONG Exists(Connection& c, int64_t key) {
  Query q(c, Sql::kKeyExists);
  sqlite3_stmt* s = q.Get();
  if (s == nullptr) return ERROR_CANTREAD;
  sqlite3_bind_int64(s, 1, key);
  const int rc = StepOnce(s);
  return rc == SQLITE_ROW ? ERROR_SUCCESS : rc == SQLITE_DONE ? ERROR_KEY_DELETED : c.Error(rc, false);
}

LONG Walk(Connection& c, int64_t from, const std::vector<Name>& path, int64_t* id) {
  int64_t key = from;
  for (const Name& part : path) {
    const LONG error = FindChild(c, key, part, &key);
    if (error != ERROR_SUCCESS) return error;
  }
  *id = key;
  return ERROR_SUCCESS;
}

// Windows keeps a tree to 512 levels below its hive's root.
constexpr size_t kMaxDepth = 512;

// The key's level below its hive's root (0 for the root), counted up to
// just past kMaxDepth.
LONG Depth(Connection& c, int64_t key, size_t* depth) {
  for (*depth = 0; *depth <= kMaxDepth; ++*depth) {
    Query q(c, Sql::kParent);
    sqlite3_stmt* s = q.Get();
    if (s == nullptr) return c.LastError(false);
    sqlite3_bind_int64(s, 1, key);
    const int rc = StepOnce(s);
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : c.Error(rc, false);
    key = sqlite3_column_int64(s, 0);
    if (key == 0) break;
  }
  return ERROR_SUCCESS;
}

// The columns of QV_VALUE_COLUMNS after the name.
void ReadValue(sqlite3_stmt* s, ValueRead* value) {
  value->type = static_cast<DWORD>(sqlite3_column_int64(s, 2));
  value->size = static_cast<DWORD>(sqlite3_column_int64(s, 3));
  value->loaded = sqlite3_column_type(s, 4) != SQLITE_NULL;
  value->data = ColumnBytes(s, 4);
}

LONG RootId(Connection& c, const char* hive, int64_t* id) {
  Query q(c, Sql::kRoot);
  sqlite3_stmt* s = q.Get();
  if (s == nullptr) return ERROR_CANTREAD;
  sqlite3_bind_text(s, 1, hive, -1, SQLITE_STATIC);
  const int rc = StepOnce(s);
  // Missing: a file from before the hive was added, until its next writer.
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : c.Error(rc, false);
  *id = sqlite3_column_int64(s, 0);
  return ERROR_SUCCESS;
}

// Runs a one-statement change; the write's error, or success.
LONG Change(Connection& c, sqlite3_stmt* s) {
  if (s == nullptr) return ERROR_CANTWRITE;
  const int rc = sqlite3_step(s);
  return rc == SQLITE_DONE ? ERROR_SUCCESS : c.Error(rc, true);
}

// Makes the missing keys of `path` under `key`; *id is its last key.
LONG Make(Connection& c, int64_t key, const std::vector<Name>& path, int64_t* id, bool* created) {
  for (const Name& part : path) {
    int64_t child = 0;
    LONG error = FindChild(c, key, part, &child);
    if (error == ERROR_FILE_NOT_FOUND) {
      Query q(c, Sql::kInsertKey);
      sqlite3_stmt* s = q.Get();
      if (s == nullptr) return ERROR_CANTWRITE;
      sqlite3_bind_int64(s, 1, key);
      Bind(s, 2, part.text);
      Bind(s, 3, part.folded);
      error = Change(c, s);
      child = sqlite3_last_insert_rowid(sqlite3_db_handle(s));
      *created = true;
    }
    if (error != ERROR_SUCCESS) return error;
    key = child;
  }
  *id = key;
  return ERROR_SUCCESS;
}

// The real id of a key named below zero: a hive's root found while the
// store was absent, or the user's classes, made here for a write (`make`)
// and else ERROR_FILE_NOT_FOUND while missing.
LONG RealKey(Connection& c, int64_t* key, bool make) {
  if (*key >= 0) return ERROR_SUCCESS;
  if (*key == RegistryStore::kClasses) {
    static const std::vector<Name> classes = {NameOf(L"Software"), NameOf(L"Classes")};
    bool created = false;
    LONG error = RootId(c, kHives[0], key);
    if (error != ERROR_SUCCESS) return error;
    return make ? Make(c, *key, classes, key, &created) : Walk(c, *key, classes, key);
  }
  const size_t hive = static_cast<size_t>(-*key - 1);
  if (hive >= sizeof kHives / sizeof kHives[0]) return ERROR_KEY_DELETED;
  return RootId(c, kHives[hive], key);
}

}  // namespace

RegistryStore& RegistryStore::User() {
  static RegistryStore* store = new RegistryStore(Kind::User);  // never destroyed: used until exit
  return *store;
}

RegistryStore& RegistryStore::Machine() {
  static RegistryStore* store = new RegistryStore(Kind::Machine);
  return *store;
}

RegistryStore::RegistryStore(Kind kind) : kind_(kind) {}
RegistryStore::~RegistryStore() = default;

Connection* RegistryStore::Get(bool forWrite, LONG* error) {
  if (connection_ && connection_->Owner() != getpid()) {
    // Inherited across fork: never touch the parent's connection.
    (void)connection_.release();
  }
  if (connection_ && !connection_->Current()) connection_.reset();
  if (connection_ && !forWrite) return connection_.get();
  if (connection_ && connection_->Writable()) {
    *error = connection_->SetUp();
    return *error == ERROR_SUCCESS ? connection_.get() : nullptr;
  }
  const std::string folder = kind_ == Kind::User ? UserFolder() : MachineFolder();
  if (folder.empty()) {
    *error = ERROR_CANTOPEN;
    return nullptr;
  }
  const std::string path = folder + "/" + kFileName;
  const bool exists = access(path.c_str(), F_OK) == 0;
  // A store that is there but closed to this user (its file or a folder on
  // the way) is no missing key.
  if (exists ? access(path.c_str(), R_OK) != 0 : errno == EACCES) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  *error = ERROR_FILE_NOT_FOUND;  // read as empty until a writer makes it
  if (!exists && !forWrite) return nullptr;
  // The user's registry is private (0700, 0600); the machine's is read by
  // every user (0755, 0644) whatever umask its writer has. SQLite gives its
  // WAL and shared-memory files the database file's mode.
  *error = ERROR_ACCESS_DENIED;
  const bool user = kind_ == Kind::User;
  if (!exists && !MakeStoreFiles(folder, path, user ? 0700 : 0755, user ? 0600 : 0644, user)) return nullptr;
  const bool mayWrite = access(folder.c_str(), W_OK) == 0 && (!exists || access(path.c_str(), W_OK) == 0);
  if (forWrite && !mayWrite) return nullptr;
  Connection* opened = forWrite ? Connection::Create(path, error) : Connection::Open(path, mayWrite, error);
  if (opened != nullptr) connection_.reset(opened);
  keys_.clear();  // data versions of another connection
  values_.clear();
  return opened;
}

bool RegistryStore::Writable() {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  return Get(true, &error) != nullptr;
}

LONG RegistryStore::Root(const char* hive, int64_t* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(false, &error);
  if (c != nullptr) error = RootId(*c, hive, id);
  if (error != ERROR_FILE_NOT_FOUND) return error;
  for (size_t i = 0; i < sizeof kHives / sizeof kHives[0]; ++i)
    if (std::strcmp(kHives[i], hive) == 0) *id = -static_cast<int64_t>(i) - 1;
  return ERROR_SUCCESS;
}

LONG RegistryStore::Read(int64_t key, LONG none, const std::function<LONG(Connection&, int64_t)>& read,
                         bool checked) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(false, &error);
  if (c == nullptr) return error != ERROR_FILE_NOT_FOUND ? error : key < 0 ? none : ERROR_KEY_DELETED;
  const bool unmade = key < 0;
  error = RealKey(*c, &key, false);
  if (unmade && error == ERROR_FILE_NOT_FOUND) return none;
  if (error == ERROR_SUCCESS && checked) error = Exists(*c, key);
  return error == ERROR_SUCCESS ? read(*c, key) : error;
}

LONG RegistryStore::KeyExists(int64_t key) {
  return Read(key, ERROR_SUCCESS, [](Connection&, int64_t) { return ERROR_SUCCESS; });
}

LONG RegistryStore::Open(int64_t from, const std::vector<Name>& path, int64_t* id) {
  *id = from;  // the root of a hive not made yet
  return Read(from, path.empty() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
              [&](Connection& c, int64_t key) { return Walk(c, key, path, id); });
}

LONG RegistryStore::Create(int64_t from, const std::vector<Name>& path, int64_t* id, bool* created) {
  *created = false;
  return Write(from, [&](Connection& c, int64_t key) -> LONG {
    size_t depth = 0;
    LONG error = path.empty() ? ERROR_SUCCESS : Depth(c, key, &depth);
    if (error != ERROR_SUCCESS) return error;
    if (depth + path.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;  // as Windows answers
    return Make(c, key, path, id, created);
  });
}

LONG RegistryStore::Write(int64_t from, const std::function<LONG(Connection&, int64_t)>& change, bool frees) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(true, &error);
  if (c == nullptr) return error;
  if (held_ && !c->InTransaction() && !c->Exec("BEGIN IMMEDIATE")) return c->LastError(true);
  WriteTransaction transaction(*c);
  if (!transaction.Begun()) return c->LastError(true);
  error = RealKey(*c, &from, true);
  if (error == ERROR_SUCCESS) error = Exists(*c, from);
  if (error == ERROR_SUCCESS) error = change(*c, from);
  if (error != ERROR_SUCCESS) return error;
  if (!transaction.Commit()) return c->LastError(true);
  if (frees) c->ReclaimSpace();
  return ERROR_SUCCESS;
}

void RegistryStore::HoldWrites() {
  for (RegistryStore* store : {&User(), &Machine()}) {
    std::lock_guard<std::mutex> lock(store->mutex_);
    store->held_ = true;
  }
}

LONG RegistryStore::FinishWrites(bool commit) {
  // One transaction per database: should the machine's commit fail after
  // the user's, the user's stays.
  LONG result = ERROR_SUCCESS;
  for (RegistryStore* store : {&User(), &Machine()}) {
    std::lock_guard<std::mutex> lock(store->mutex_);
    store->held_ = false;
    Connection* c = store->connection_.get();
    if (c == nullptr || !c->InTransaction()) continue;
    if (commit && result == ERROR_SUCCESS && !c->Exec("COMMIT")) result = c->LastError(true);
    if (c->InTransaction()) c->Exec("ROLLBACK");
    c->ReclaimSpace();  // an import may delete whole trees
  }
  return result;
}

LONG RegistryStore::SetValue(int64_t key, const Name& name, DWORD type, const BYTE* data, DWORD size) {
  return Write(key, [&](Connection& c, int64_t id) -> LONG {
    Query q(c, Sql::kSetValue);
    sqlite3_stmt* s = q.Get();
    if (s == nullptr) return ERROR_CANTWRITE;
    static const BYTE kEmpty = 0;  // a zero-length blob, not NULL
    sqlite3_bind_int64(s, 1, id);
    Bind(s, 2, name.folded);
    Bind(s, 3, name.text);
    sqlite3_bind_int64(s, 4, type);
    // A build of SQLite with a lower length limit refuses the bytes here.
    if (sqlite3_bind_blob(s, 5, size == 0 ? &kEmpty : data, static_cast<int>(size), SQLITE_TRANSIENT) == SQLITE_TOOBIG)
      return ERROR_FILE_TOO_LARGE;
    return Change(c, s);
  });
}

LONG RegistryStore::QueryValue(int64_t key, const Name& name, ValueRead* value) {
  return Read(key, ERROR_FILE_NOT_FOUND, [&](Connection& c, int64_t id) -> LONG {
    Query q(c, Sql::kQueryValue);
    sqlite3_stmt* s = q.Get();
    if (s == nullptr) return c.LastError(false);
    sqlite3_bind_int64(s, 1, id);
    Bind(s, 2, name.folded);
    sqlite3_bind_int64(s, 3, value->capacity);
    const int rc = StepOnce(s);
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : c.Error(rc, false);
    ReadValue(s, value);
    return ERROR_SUCCESS;
  });
}

LONG RegistryStore::Enumerate(Connection& c, Cursors& cursors, uintptr_t walker, int64_t key, DWORD index, Sql next,
                              Sql at, const std::function<void(sqlite3_stmt*)>& bind,
                              const std::function<void(sqlite3_stmt*)>& read) {
  const bool byName = next == Sql::kNextKey;  // keys go by folded name, values by row
  const int stampColumn = byName ? 2 : 5;
  const auto found = cursors.find(walker);
  const bool follows = found != cursors.end() && found->second.key == key && index == found->second.index + 1;
  for (bool follow = follows;; follow = false) {
    Query q(c, follow ? next : at);
    sqlite3_stmt* s = q.Get();
    if (s == nullptr) return c.LastError(false);
    sqlite3_bind_int64(s, 1, key);
    if (!follow)
      sqlite3_bind_int64(s, 2, index);
    else if (byName)
      Bind(s, 2, found->second.folded);
    else
      sqlite3_bind_int64(s, 2, found->second.rowid);
    bind(s);
    const int rc = StepOnce(s);
    if (rc != SQLITE_ROW) {
      cursors.erase(walker);
      return rc == SQLITE_DONE ? ERROR_KEY_DELETED : c.Error(rc, false);
    }
    Cursor here;
    here.byGeneration = sqlite3_column_type(s, stampColumn) != SQLITE_NULL;
    here.stamp = here.byGeneration ? sqlite3_column_int64(s, stampColumn) : c.DataVersion();
    // Entries came or went meanwhile: count afresh.
    if (follow && (here.byGeneration != found->second.byGeneration || here.stamp != found->second.stamp)) continue;
    if (sqlite3_column_type(s, 0) == SQLITE_NULL) {
      cursors.erase(walker);
      return ERROR_NO_MORE_ITEMS;
    }
    here.key = key;
    here.index = index;
    if (byName)
      here.folded = ColumnBytes(s, 1);
    else
      here.rowid = sqlite3_column_int64(s, 0);
    read(s);
    cursors[walker] = std::move(here);
    return ERROR_SUCCESS;
  }
}

LONG RegistryStore::EnumKey(int64_t key, uintptr_t walker, DWORD index, std::string* name) {
  return Read(key, ERROR_NO_MORE_ITEMS, [&](Connection& c, int64_t id) {
    return Enumerate(
        c, keys_, walker, id, index, Sql::kNextKey, Sql::kEnumKey, [](sqlite3_stmt*) {},
        [&](sqlite3_stmt* s) { *name = ColumnBytes(s, 0); });
  }, false);
}

LONG RegistryStore::EnumValue(int64_t key, uintptr_t walker, DWORD index, std::string* name, ValueRead* value) {
  return Read(key, ERROR_NO_MORE_ITEMS, [&](Connection& c, int64_t id) {
    return Enumerate(
        c, values_, walker, id, index, Sql::kNextValue, Sql::kEnumValue,
        [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 3, value->capacity); },
        [&](sqlite3_stmt* s) {
          *name = ColumnBytes(s, 1);
          ReadValue(s, value);
        });
  }, false);
}

void RegistryStore::Forget(uintptr_t walker) {
  std::lock_guard<std::mutex> lock(mutex_);
  keys_.erase(walker);
  values_.erase(walker);
}

LONG RegistryStore::DeleteValue(int64_t key, const Name& name) {
  return Write(key, [&](Connection& c, int64_t id) -> LONG {
    Query q(c, Sql::kDeleteValue);
    sqlite3_stmt* s = q.Get();
    if (s == nullptr) return ERROR_CANTWRITE;
    sqlite3_bind_int64(s, 1, id);
    Bind(s, 2, name.folded);
    const LONG error = Change(c, s);
    if (error != ERROR_SUCCESS) return error;
    return sqlite3_changes(sqlite3_db_handle(s)) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }, true);
}

LONG RegistryStore::DeleteKey(int64_t from, const std::vector<Name>& path) {
  return Write(from, [&](Connection& c, int64_t start) -> LONG {
    int64_t key;
    size_t depth = 0;
    LONG error = Walk(c, start, path, &key);
    if (error == ERROR_SUCCESS) error = Depth(c, key, &depth);
    if (error != ERROR_SUCCESS) return error;
    if (depth == 0) return ERROR_ACCESS_DENIED;  // a hive's root never goes
    {
      Query children(c, Sql::kHasChildren);
      if (children.Get() == nullptr) return ERROR_CANTWRITE;
      sqlite3_bind_int64(children.Get(), 1, key);
      const int rc = StepOnce(children.Get());
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
      if (rc != SQLITE_DONE) return c.Error(rc, false);
    }
    for (Sql which : {Sql::kDeleteValues, Sql::kDeleteKey}) {
      Query change(c, which);
      if (change.Get() == nullptr) return ERROR_CANTWRITE;
      sqlite3_bind_int64(change.Get(), 1, key);
      error = Change(c, change.Get());
      if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
  }, true);
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
