// RegisterWindowMessageW: one table per user, kept in an SQLite database in
// the user's object directory, shared by every process of the user and kept
// across their restarts (like the Windows session's atom table, it goes
// when the user's runtime directory goes). A name already registered is read
// without the write lock, so a stopped writer never holds up its lookups; a
// new number is taken inside one immediate transaction, so two processes
// registering the same new name agree on it.
#include <sqlite3.h>

#include <cwchar>
#include <new>
#include <string>

#include "../kernel/ObjectNamespace.h"
#include "../text/StringCompare.h"
#include "WindowApi.h"

namespace {

constexpr UINT kFirstMessage = 0xC000;
constexpr UINT kLastMessage = 0xFFFF;
constexpr size_t kLongestName = 255;  // an atom name's limit
constexpr int kBusyTimeoutMs = 5000;

// Atom names compare as Windows compares them: each character upper-cased.
std::wstring Folded(LPCWSTR name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = quorvane::posix::FoldCase(c);
  return folded;
}

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      return;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  }
  ~Database() {
    if (db_ != nullptr) sqlite3_close(db_);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  bool Ok() const { return db_ != nullptr; }
  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  sqlite3* Get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return statement_ != nullptr; }
  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, sqlite3_int64 value) { sqlite3_bind_int64(statement_, index, value); }
  int Step() { return sqlite3_step(statement_); }
  sqlite3_int64 Column(int index) { return sqlite3_column_int64(statement_, index); }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

UINT Lookup(Database& db, const std::string& folded) {
  Statement select(db.Get(), "SELECT id FROM messages WHERE folded = ?1");
  if (!select.Ok()) return 0;
  select.Bind(1, folded);
  return select.Step() == SQLITE_ROW ? static_cast<UINT>(select.Column(0)) : 0;
}

UINT Register(Database& db, const std::string& folded, const std::string& name) {
  UINT id = Lookup(db, folded);
  if (id != 0) return id;
  Statement next(db.Get(), "SELECT COALESCE(MAX(id) + 1, 49152) FROM messages");
  if (!next.Ok() || next.Step() != SQLITE_ROW) return 0;
  const sqlite3_int64 candidate = next.Column(0);
  if (candidate < kFirstMessage || candidate > kLastMessage) return 0;  // the table is full
  Statement insert(db.Get(), "INSERT INTO messages (id, folded, name) VALUES (?1, ?2, ?3)");
  if (!insert.Ok()) return 0;
  insert.Bind(1, candidate);
  insert.Bind(2, folded);
  insert.Bind(3, name);
  return insert.Step() == SQLITE_DONE ? static_cast<UINT>(candidate) : 0;
}

}  // namespace

UINT RegisterWindowMessageW(LPCWSTR lpString) {
  if (lpString == nullptr || lpString[0] == 0 || std::wcslen(lpString) > kLongestName) return 0;
  try {
    const std::string directory = quorvane::posix::UserObjectDirectory();
    if (directory.empty()) return 0;
    Database db(directory + "/window-messages.sqlite3");
    if (!db.Ok()) return 0;
    const std::string folded = quorvane::posix::Utf8FromWideText(Folded(lpString).c_str());
    // Before the table exists the statement does not prepare: no name yet.
    if (const UINT known = Lookup(db, folded)) return known;
    // The write lock first: the lookup and the new number are one step.
    if (!db.Exec("BEGIN IMMEDIATE")) return 0;
    UINT id = 0;
    if (db.Exec("CREATE TABLE IF NOT EXISTS messages ("
                " id INTEGER PRIMARY KEY CHECK (id BETWEEN 49152 AND 65535),"
                " folded TEXT NOT NULL UNIQUE,"
                " name TEXT NOT NULL)"))
      id = Register(db, folded, quorvane::posix::Utf8FromWideText(lpString));
    if (id == 0 || !db.Exec("COMMIT")) {
      db.Exec("ROLLBACK");
      return 0;
    }
    return id;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
