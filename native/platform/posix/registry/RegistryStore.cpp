// Where the registry databases live and the key and value operations on them.
#include "RegistryStore.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "../Folders.h"
#include "../WinError.h"
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

const char* const kHives[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

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
  LONG error = Exists(c, from);
  if (error != ERROR_SUCCESS) return error;
  int64_t key = from;
  for (const Name& part : path) {
    error = FindChild(c, key, part, &key);
    if (error != ERROR_SUCCESS) return error;
  }
  *id = key;
  return ERROR_SUCCESS;
}

LONG RootId(Connection& c, const char* hive, int64_t* id) {
  Query q(c, Sql::kRoot);
  sqlite3_stmt* s = q.Get();
  if (s == nullptr) return ERROR_CANTREAD;
  sqlite3_bind_text(s, 1, hive, -1, SQLITE_STATIC);
  const int rc = StepOnce(s);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_BADDB : c.Error(rc, false);
  *id = sqlite3_column_int64(s, 0);
  return ERROR_SUCCESS;
}

// A key id for a write: the real root for a root found while the store was absent.
LONG WriteKey(Connection& c, int64_t* key) {
  if (*key >= 0) return ERROR_SUCCESS;
  const size_t hive = static_cast<size_t>(-*key - 1);
  if (hive >= sizeof kHives / sizeof kHives[0]) return ERROR_KEY_DELETED;
  return RootId(c, kHives[hive], key);
}

// Runs a one-statement change; the write's error, or success.
LONG Change(Connection& c, sqlite3_stmt* s) {
  if (s == nullptr) return ERROR_CANTWRITE;
  const int rc = sqlite3_step(s);
  return rc == SQLITE_DONE ? ERROR_SUCCESS : c.Error(rc, true);
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
  if (connection_ && (connection_->Writable() || !forWrite)) return connection_.get();
  const std::string folder = kind_ == Kind::User ? UserFolder() : MachineFolder();
  const std::string path = folder + "/" + kFileName;
  Connection* opened = nullptr;
  if (kind_ == Kind::User) {
    // The user's registry is private: its folder is 0700.
    if (!folder.empty() && MakeFolder(folder, 0700)) opened = Connection::Open(path, true);
    *error = ERROR_CANTOPEN;
  } else {
    const bool exists = access(path.c_str(), F_OK) == 0;
    if ((exists || forWrite) && MakeFolder(folder, 0755) && access(folder.c_str(), W_OK) == 0 &&
        (!exists || access(path.c_str(), W_OK) == 0))
      opened = Connection::Open(path, true);
    if (opened == nullptr && exists && !forWrite) opened = Connection::Open(path, false);
    *error = forWrite ? ERROR_ACCESS_DENIED : exists ? ERROR_CANTOPEN : ERROR_FILE_NOT_FOUND;
  }
  if (opened != nullptr) connection_.reset(opened);
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
  if (c != nullptr) return RootId(*c, hive, id);
  if (error != ERROR_FILE_NOT_FOUND) return error;
  for (size_t i = 0; i < sizeof kHives / sizeof kHives[0]; ++i)
    if (std::strcmp(kHives[i], hive) == 0) *id = -static_cast<int64_t>(i) - 1;
  return ERROR_SUCCESS;
}

LONG RegistryStore::KeyExists(int64_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(false, &error);
  if (c == nullptr) return key < 0 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  return key < 0 ? ERROR_SUCCESS : Exists(*c, key);
}

LONG RegistryStore::Open(int64_t from, const std::vector<Name>& path, int64_t* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(false, &error);
  if (c != nullptr && WriteKey(*c, &from) != ERROR_SUCCESS) return ERROR_KEY_DELETED;
  if (c == nullptr || from < 0) {
    if (from >= 0) return ERROR_KEY_DELETED;
    if (!path.empty()) return ERROR_FILE_NOT_FOUND;
    *id = from;
    return ERROR_SUCCESS;
  }
  return Walk(*c, from, path, id);
}

LONG RegistryStore::Create(int64_t from, const std::vector<Name>& path, int64_t* id, bool* created) {
  *created = false;
  return Write(from, [&](Connection& c, int64_t key) -> LONG {
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
  });
}

LONG RegistryStore::ReadOne(int64_t key, Sql which, LONG none, const std::function<void(sqlite3_stmt*)>& bind,
                            const std::function<void(sqlite3_stmt*)>& read) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(false, &error);
  if (c != nullptr && WriteKey(*c, &key) != ERROR_SUCCESS) return ERROR_KEY_DELETED;
  if (c == nullptr || key < 0) return key < 0 ? none : ERROR_KEY_DELETED;
  error = Exists(*c, key);
  if (error != ERROR_SUCCESS) return error;
  Query q(*c, which);
  sqlite3_stmt* s = q.Get();
  if (s == nullptr) return ERROR_CANTREAD;
  sqlite3_bind_int64(s, 1, key);
  bind(s);
  const int rc = StepOnce(s);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? none : c->Error(rc, false);
  read(s);
  return ERROR_SUCCESS;
}

LONG RegistryStore::Write(int64_t from, const std::function<LONG(Connection&, int64_t)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error;
  Connection* c = Get(true, &error);
  if (c == nullptr) return error;
  WriteTransaction transaction(*c);
  if (!transaction.Begun()) return ERROR_CANTWRITE;
  error = WriteKey(*c, &from);
  if (error == ERROR_SUCCESS) error = Exists(*c, from);
  if (error == ERROR_SUCCESS) error = change(*c, from);
  if (error != ERROR_SUCCESS) return error;
  return transaction.Commit() ? ERROR_SUCCESS : ERROR_CANTWRITE;
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
    sqlite3_bind_blob(s, 5, size == 0 ? &kEmpty : data, static_cast<int>(size), SQLITE_TRANSIENT);
    return Change(c, s);
  });
}

LONG RegistryStore::QueryValue(int64_t key, const Name& name, DWORD* type, std::string* data) {
  return ReadOne(
      key, Sql::kQueryValue, ERROR_FILE_NOT_FOUND, [&](sqlite3_stmt* s) { Bind(s, 2, name.folded); },
      [&](sqlite3_stmt* s) {
        *type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
        *data = ColumnBytes(s, 1);
      });
}

LONG RegistryStore::EnumKey(int64_t key, DWORD index, std::string* name) {
  return ReadOne(
      key, Sql::kEnumKey, ERROR_NO_MORE_ITEMS, [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 2, index); },
      [&](sqlite3_stmt* s) { *name = ColumnBytes(s, 0); });
}

LONG RegistryStore::EnumValue(int64_t key, DWORD index, std::string* name, DWORD* type, std::string* data) {
  return ReadOne(
      key, Sql::kEnumValue, ERROR_NO_MORE_ITEMS, [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 2, index); },
      [&](sqlite3_stmt* s) {
        *name = ColumnBytes(s, 0);
        *type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
        *data = ColumnBytes(s, 2);
      });
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
  });
}

LONG RegistryStore::DeleteKey(int64_t from, const std::vector<Name>& path) {
  return Write(from, [&](Connection& c, int64_t start) -> LONG {
    int64_t key;
    LONG error = Walk(c, start, path, &key);
    if (error != ERROR_SUCCESS) return error;
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
  });
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
