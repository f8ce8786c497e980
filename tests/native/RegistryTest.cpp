// The Linux registry where Java cannot reach; each case runs in a child process with its own stores.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "Win32Api.h"

namespace {

std::string TempFolder() {
  char pattern[] = "/tmp/qv-registry-XXXXXX";
  return mkdtemp(pattern);
}

// Runs `body` in a child whose stores live in fresh folders; its text is the failure ("" for none).
std::string InChild(const std::function<std::string()>& body, const std::string& user = TempFolder(),
                    const std::string& machine = TempFolder()) {
  return settings_test::TextOfChild([&] {
    setenv("XDG_DATA_HOME", user.c_str(), 1);
    setenv("QV_REGISTRY_MACHINE_DIR", machine.c_str(), 1);
    return body();
  });
}

// In a child: returns the failure when `actual` is not `expected`.
#define REQUIRE_EQ(expected, actual)                                                                  \
  if (const auto a_ = (actual); !((expected) == a_))                                                  \
  return std::string(#actual " at line ") + std::to_string(__LINE__) + ": " + std::to_string(a_)

HKEY Create(HKEY parent, const wchar_t* path) {
  HKEY key = nullptr;
  return RegCreateKeyW(parent, path, &key) == ERROR_SUCCESS ? key : nullptr;
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::wstring EnumKey(HKEY key, DWORD index) {
  wchar_t name[256];
  DWORD units = 256;
  return RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS ? name : L"-";
}

// Subkeys by upper-cased name, values as first set; short buffers learn the size; dead handles are refused.
TEST(Registry, OrderSizesAndHandles) {
  EXPECT_EQ("", InChild([] {
    HKEY root = Create(HKEY_CURRENT_USER, L"Software\\Order");
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma", L"ALPHA"}) RegCloseKey(Create(root, name));
    if (EnumKey(root, 0) + EnumKey(root, 1) + EnumKey(root, 2) + EnumKey(root, 3) != L"Alphabetagamma-")
      return std::string("subkeys out of order, renamed or doubled");
    for (const wchar_t* name : {L"z", L"a", L"Z"}) REQUIRE_EQ(ERROR_SUCCESS, SetDword(root, name, 1));
    wchar_t name[8];
    DWORD units = 8;
    REQUIRE_EQ(ERROR_SUCCESS, RegEnumValueW(root, 0, name, &units, nullptr, nullptr, nullptr, nullptr));
    if (std::wstring(name) != L"z" || units != 1) return std::string("first value is not the first one set");
    units = 8;
    REQUIRE_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(root, 2, name, &units, nullptr, nullptr, nullptr, nullptr));

    HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Sizes");
    RegCloseKey(Create(key, L"child"));
    const BYTE data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    REQUIRE_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"v", 0, REG_BINARY, data, sizeof data));
    BYTE buffer[16];
    DWORD size = 4, type = 0;
    REQUIRE_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, L"V", nullptr, &type, buffer, &size));
    REQUIRE_EQ(10u, size);
    size = 0;
    REQUIRE_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size));
    REQUIRE_EQ(10u, size);
    size = 16;
    REQUIRE_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"v", nullptr, &type, buffer, &size));
    REQUIRE_EQ(0, std::memcmp(buffer, data, sizeof data));
    units = 5;  // "child" needs 6 with its terminator
    REQUIRE_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr));
    units = 6;
    REQUIRE_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr));
    REQUIRE_EQ(5u, units);
    units = 8;
    size = 3;
    REQUIRE_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &units, nullptr, &type, buffer, &size));
    REQUIRE_EQ(10u, size);
    // Past the documented limit: a clear refusal, before any byte is read (the pages are never touched).
    void* huge = mmap(nullptr, 1000000000, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    REQUIRE_EQ(ERROR_FILE_TOO_LARGE, RegSetValueExW(key, L"huge", 0, REG_BINARY, static_cast<const BYTE*>(huge),
                                                    QV_MAX_VALUE_SIZE + 1));
    REQUIRE_EQ(ERROR_FILE_TOO_LARGE, RegSetValueExW(key, L"huge", 0, REG_BINARY, static_cast<const BYTE*>(huge),
                                                    1000000000));
    munmap(huge, 1000000000);

    key = Create(HKEY_CURRENT_USER, L"Software\\Gone");
    REQUIRE_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, L"Software"));  // has subkeys
    REQUIRE_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\GONE"));
    REQUIRE_EQ(ERROR_KEY_DELETED, SetDword(key, L"v", 1));
    HKEY again = Create(HKEY_CURRENT_USER, L"Software\\Gone");  // a new key: the old handle stays dead
    REQUIRE_EQ(ERROR_KEY_DELETED, SetDword(key, L"v", 1));
    REQUIRE_EQ(ERROR_SUCCESS, RegCloseKey(key));
    REQUIRE_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUIRE_EQ(ERROR_INVALID_HANDLE, RegSetValueExW(reinterpret_cast<HKEY>(event), nullptr, 0, REG_NONE, nullptr, 0));
    REQUIRE_EQ(FALSE, CloseHandle(reinterpret_cast<HANDLE>(again)));
    REQUIRE_EQ(TRUE, CloseHandle(event));
    REQUIRE_EQ(ERROR_BAD_PATHNAME, RegCreateKeyW(HKEY_CURRENT_USER, L"\\Lead", &key));

    // A hive's root never goes, even empty and named by a handle to itself.
    HKEY users = nullptr;
    REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, nullptr, 0, KEY_ALL_ACCESS, &users));
    REQUIRE_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(users, L""));
    REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_USERS, L"Still", &key));
    // The current hardware profile is the machine's, a root like the others.
    REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_CONFIG, L"Software\\Fonts", &key));
    REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software", &again));
    REQUIRE_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(again, L"Fonts", 0, KEY_READ, &again));
    REQUIRE_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_CONFIG, L""));
    // 512 levels below the root, and not one more.
    std::wstring deep = L"d";
    for (int level = 1; level < 512; ++level) deep += L"\\d";
    REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, deep.c_str(), &key));
    REQUIRE_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyW(key, L"d", &again));
    REQUIRE_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyW(HKEY_CURRENT_USER, (L"e\\" + deep).c_str(), &again));
    REQUIRE_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, L"e", 0, KEY_READ, &again));

    // Classes: the machine's behind the user's, new ones in the user's.
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.machine"));
    REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".machine", 0, KEY_READ, &again));
    REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, L".user", &again));
    REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\.user", 0, KEY_READ, &again));
    return std::string();
  }));
}

std::wstring EnumValue(HKEY key, DWORD index) {
  wchar_t name[256];
  DWORD units = 256;
  return RegEnumValueW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS ? name : L"-";
}

HKEY OpenAgain(const wchar_t* path) {
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key : nullptr;
}

// A walk of Software\Walk (subkeys b, c, d; values b, c, d) by index; `between` runs after each step.
struct WalkCase {
  const char* name;
  bool values;
  std::function<void(HKEY walker, DWORD index)> between;
  const wchar_t* seen;  // what the walker read, index by index, "-" at the end
};

const WalkCase kWalkCases[] = {
    {"another handle walks values in lockstep", true,
     [](HKEY, DWORD index) {
       static HKEY other = OpenAgain(L"Software\\Walk");
       (void)EnumValue(other, index);
     },
     L"bcd-"},
    {"another handle walks subkeys in lockstep", false,
     [](HKEY, DWORD index) {
       static HKEY other = OpenAgain(L"Software\\Walk");
       (void)EnumKey(other, index);
     },
     L"bcd-"},
    {"each value written back as it is read", true,
     [](HKEY walker, DWORD index) { SetDword(walker, EnumValue(walker, index).c_str(), 9); }, L"bcd-"},
    {"a value before the walker deleted", true,
     [](HKEY walker, DWORD index) {
       if (index == 1) RegDeleteValueW(walker, L"b");
     },
     L"bc-"},  // then c, d: index 2 is past the end
    {"a subkey sorting first added by another process", false,
     [](HKEY, DWORD index) {
       if (index != 1) return;
       const pid_t child = fork();
       if (child == 0) _exit(RegCloseKey(Create(HKEY_CURRENT_USER, L"Software\\Walk\\a")) == ERROR_SUCCESS ? 0 : 1);
       waitpid(child, nullptr, 0);
     },
     L"bccd-"},  // a, b, c, d after the second step
    {"a value added by another handle", true,
     [](HKEY, DWORD index) {
       if (index == 0) SetDword(OpenAgain(L"Software\\Walk"), L"e", 1);
     },
     L"bcde-"},
};

// Each walk answers what counting from the first entry would, however the walk is interleaved with other work.
TEST(Registry, WalksAnswerAsCountingAfresh) {
  for (const WalkCase& c : kWalkCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ("", InChild([&c] {
      HKEY walk = Create(HKEY_CURRENT_USER, L"Software\\Walk");
      for (const wchar_t* name : {L"b", L"c", L"d"}) {
        RegCloseKey(Create(walk, name));
        SetDword(walk, name, 1);
      }
      std::wstring seen;
      for (DWORD index = 0; index < 8; ++index) {
        const std::wstring name = c.values ? EnumValue(walk, index) : EnumKey(walk, index);
        seen += name;
        if (name == L"-") break;
        c.between(walk, index);
      }
      if (seen != c.seen) return "read " + std::string(seen.begin(), seen.end());
      return std::string();
    }));
  }
}

const char kStore[] = "/quorvane/registry.sqlite3";

// Closing the last connection folds the WAL into the file and removes it, as when every writer has ended.
void Checkpoint(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

DWORD ReadN(HKEY root) {
  HKEY key = nullptr;
  DWORD value = 0, size = 4;
  if (RegOpenKeyExW(root, L"Software\\Vendor", 0, KEY_READ, &key) != ERROR_SUCCESS ||
      RegQueryValueExW(key, L"N", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return 0;
  RegCloseKey(key);
  return value;
}

// Bytes this process has read from files so far.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string field;
  long long bytes = -1;
  while (io >> field >> bytes && field != "rchar:") {
  }
  return bytes;
}

// Turns a store back into the previous format: no generations, no incremental vacuum.
void MakeFirstFormat(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "DROP TRIGGER value_added; DROP TRIGGER value_removed; DROP TRIGGER key_added; DROP TRIGGER key_removed;"
               "ALTER TABLE keys DROP COLUMN generation; PRAGMA user_version = 1; PRAGMA auto_vacuum = NONE; VACUUM;"
               "PRAGMA wal_checkpoint(TRUNCATE)",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

std::string Pragma(const std::string& path, const char* pragma) {
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  std::string value = "?";
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (sqlite3_prepare_v2(db, pragma, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    value = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  sqlite3_close(db);
  return value;
}

// A process stopped (SIGSTOP) inside the transaction `sql` began on the store at `path`.
pid_t StoppedInside(const std::string& path, const char* sql) {
  const pid_t stopped = fork();
  if (stopped == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    raise(SIGSTOP);
    _exit(0);
  }
  waitpid(stopped, nullptr, WUNTRACED);
  return stopped;
}

off_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

struct StoreCase {
  const char* name;
  bool asNobody;  // root reads and writes anything
  // Done as root between the seed (n = 7 under Software\Vendor of both
  // stores) and the check; a process to kill after it, or 0.
  std::function<pid_t(const std::string& user, const std::string& machine)> prepare;
  // Runs when the check calls its argument: as root, in another process.
  std::function<void()> meanwhile;
  std::function<std::string(const std::function<void()>& meanwhile)> check;
};

const StoreCase kStoreCases[] = {
    {"root with another user's data folder makes no folder of root's there", false,
     [](const std::string& user, const std::string&) {
       (void)!std::system(("rm -rf '" + user + "/quorvane'").c_str());
       (void)!chown(user.c_str(), 65534, 65534);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       const std::string user = std::getenv("XDG_DATA_HOME");
       HKEY key = nullptr;
       if (geteuid() == 0) REQUIRE_EQ(ERROR_ACCESS_DENIED, RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\New", &key));
       struct stat st;
       if (stat((user + "/quorvane").c_str(), &st) == 0) return std::string("root made a folder in the user's");
       return std::string();
     }},
    {"machine store read by a user, changed by root meanwhile", true,
     [](const std::string&, const std::string& machine) {
       chmod((machine + "/registry.sqlite3").c_str(), 0444);
       chmod(machine.c_str(), 0555);
       return pid_t(0);
     },
     [] { SetDword(Create(HKEY_LOCAL_MACHINE, L"Software\\Vendor"), L"n", 8); },
     [](const std::function<void()>& meanwhile) {
       HKEY key = nullptr;
       REQUIRE_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Vendor", &key));
       REQUIRE_EQ(7u, ReadN(HKEY_LOCAL_MACHINE));
       meanwhile();
       REQUIRE_EQ(8u, ReadN(HKEY_LOCAL_MACHINE));  // no copy kept from before
       REQUIRE_EQ(ERROR_ACCESS_DENIED, SetDword(key, L"n", 1));
       REQUIRE_EQ(ERROR_ACCESS_DENIED, RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Other", &key));
       REQUIRE_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_WRITE, &key));
       return std::string();
     }},
    {"machine store closed to the user: access denied, not a missing key", true,
     [](const std::string&, const std::string& machine) {
       chmod((machine + "/registry.sqlite3").c_str(), 0600);
       chmod(machine.c_str(), 0755);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       HKEY key = nullptr;
       REQUIRE_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vendor", 0, KEY_READ, &key));
       REQUIRE_EQ(ERROR_ACCESS_DENIED, RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Other", &key));
       return std::string();
     }},
    {"user store the user may read but not write", true,
     [](const std::string& user, const std::string&) {
       chmod((user + kStore).c_str(), 0444);
       chmod((user + "/quorvane").c_str(), 0555);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       REQUIRE_EQ(7u, ReadN(HKEY_CURRENT_USER));
       HKEY key = nullptr;
       REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vendor", 0, KEY_READ, &key));
       REQUIRE_EQ(ERROR_ACCESS_DENIED, RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\New", &key));
       REQUIRE_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".txt", 0, KEY_READ, &key));
       return std::string();
     }},
    {"damaged store", false,
     [](const std::string& user, const std::string&) {
       std::ofstream(user + kStore, std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       const std::string path = std::getenv("XDG_DATA_HOME") + std::string(kStore);
       HKEY key = nullptr;
       REQUIRE_EQ(ERROR_BADDB, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key));
       REQUIRE_EQ(ERROR_BADDB, RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\New", &key));
       if (settings_test::ReadBytes(path) != std::string(8192, 'x')) return std::string("the damaged file was changed");
       return std::string();
     }},
    {"writer stopped inside its transaction", false,
     [](const std::string& user, const std::string&) {
       return StoppedInside(user + kStore, "BEGIN IMMEDIATE; UPDATE reg_values SET data = x'08000000'");
     },
     nullptr,
     [](const std::function<void()>&) {
       alarm(10);  // a reader waiting on the write lock dies here
       REQUIRE_EQ(7u, ReadN(HKEY_CURRENT_USER));
       HKEY key = nullptr;  // the user's classes are not made yet: still only a read
       REQUIRE_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".txt", 0, KEY_READ, &key));
       return std::string();
     }},
    {"enumeration and size queries read no data", false,
     [](const std::string& user, const std::string& machine) {
       InChild([] {
         HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Big");
         const std::vector<BYTE> data(1 << 20, 1);
         for (int i = 0; i < 40; ++i)
           RegSetValueExW(key, (L"v" + std::to_wstring(i)).c_str(), 0, REG_BINARY, data.data(), 1 << 20);
         return std::string();
       }, user, machine);
       Checkpoint(user + kStore);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       HKEY key = nullptr;
       REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Big", 0, KEY_READ, &key));
       const long long before = BytesRead();
       for (DWORD i = 0;; ++i) {
         wchar_t name[8];
         DWORD units = 8, size = 0;
         if (RegEnumValueW(key, i, name, &units, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) break;
         REQUIRE_EQ(1u << 20, size);
         size = 0;
         REQUIRE_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size));
       }
       const long long read = BytesRead() - before;
       if (read < 0 || read > (4 << 20)) return "read " + std::to_string(read) + " bytes for 40 names and sizes";
       return std::string();
     }},
    {"large deletes give the space back", false, [](const std::string&, const std::string&) { return pid_t(0); },
     nullptr,
     [](const std::function<void()>&) {
       const std::string path = std::getenv("XDG_DATA_HOME") + std::string(kStore);
       HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Space");
       const std::vector<BYTE> data(1 << 20, 1);
       for (int i = 0; i < 40; ++i)
         REQUIRE_EQ(ERROR_SUCCESS, RegSetValueExW(key, (L"v" + std::to_wstring(i)).c_str(), 0, REG_BINARY,
                                                  data.data(), 1 << 20));
       for (int i = 0; i < 40; ++i)
         REQUIRE_EQ(ERROR_SUCCESS, RegDeleteValueW(key, (L"v" + std::to_wstring(i)).c_str()));
       const off_t left = SizeOf(path) + SizeOf(path + "-wal");
       if (left > (8 << 20)) return std::to_string(left) + " bytes left after 40 MB written and deleted";
       return std::string();
     }},
    {"large delete while a stopped reader holds a snapshot", false,
     [](const std::string& user, const std::string&) {
       return StoppedInside(user + kStore, "BEGIN; SELECT count(*) FROM reg_values");
     },
     nullptr,
     [](const std::function<void()>&) {
       alarm(10);  // a delete waiting on the reader dies here
       HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Space");
       const std::vector<BYTE> data(1 << 20, 1);
       for (int i = 0; i < 8; ++i)
         REQUIRE_EQ(ERROR_SUCCESS, RegSetValueExW(key, (L"v" + std::to_wstring(i)).c_str(), 0, REG_BINARY,
                                                  data.data(), 1 << 20));
       for (int i = 0; i < 8; ++i)
         REQUIRE_EQ(ERROR_SUCCESS, RegDeleteValueW(key, (L"v" + std::to_wstring(i)).c_str()));
       return std::string();
     }},
    {"store of the previous format, read by a user", true,
     [](const std::string& user, const std::string&) {
       MakeFirstFormat(user + kStore);
       chmod((user + kStore).c_str(), 0444);
       chmod((user + "/quorvane").c_str(), 0555);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       HKEY key = nullptr, software = nullptr;
       REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vendor", 0, KEY_READ, &key));
       REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &software));
       if (EnumValue(key, 0) + EnumValue(key, 1) + EnumKey(software, 0) != L"n-Vendor")
         return std::string("enumeration of the old format failed");
       return std::string();
     }},
    {"store of the previous format, brought up to date by its next write", false,
     [](const std::string& user, const std::string&) {
       MakeFirstFormat(user + kStore);
       return pid_t(0);
     },
     nullptr,
     [](const std::function<void()>&) {
       const std::string path = std::getenv("XDG_DATA_HOME") + std::string(kStore);
       HKEY key = OpenAgain(L"Software\\Vendor");
       if (EnumValue(key, 0) != L"n") return std::string("walk before the upgrade");
       REQUIRE_EQ(ERROR_SUCCESS, SetDword(key, L"m", 2));
       if (EnumValue(key, 0) + EnumValue(key, 1) + EnumValue(key, 2) != L"nm-")
         return std::string("walk after the upgrade");
       const std::string format = Pragma(path, "PRAGMA user_version") + Pragma(path, "PRAGMA auto_vacuum");
       if (format != "22") return "version and vacuum mode " + format;
       return std::string();
     }},
};

// Each case in fresh stores; then writers SIGKILLed mid-write.
TEST(Registry, StoresAsOthersLeftThemAndAKilledWriterLosesNoAcknowledgedValue) {
  for (const StoreCase& c : kStoreCases) {
    SCOPED_TRACE(c.name);
    const std::string user = TempFolder(), machine = TempFolder();
    ASSERT_EQ("", InChild([] {
      REQUIRE_EQ(ERROR_SUCCESS, SetDword(Create(HKEY_CURRENT_USER, L"Software\\Vendor"), L"n", 7));
      REQUIRE_EQ(ERROR_SUCCESS, SetDword(Create(HKEY_LOCAL_MACHINE, L"Software\\Vendor"), L"n", 7));
      return std::string();
    }, user, machine));
    Checkpoint(user + kStore);
    Checkpoint(machine + "/registry.sqlite3");
    chmod(user.c_str(), 0755);
    const pid_t straggler = c.prepare(user, machine);
    EXPECT_EQ("", InChild([&c] {
      int go[2];
      if (pipe(go) != 0) return std::string("pipe");
      const pid_t helper = fork();
      if (helper == 0) {
        close(go[1]);
        char x;
        if (read(go[0], &x, 1) == 1) c.meanwhile();
        _exit(0);
      }
      close(go[0]);
      const auto meanwhile = [&] {
        (void)!write(go[1], "x", 1);
        waitpid(helper, nullptr, 0);
      };
      std::string failure = c.asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)
                                ? "cannot drop root"
                                : c.check(meanwhile);
      close(go[1]);
      waitpid(helper, nullptr, 0);
      return failure;
    }, user, machine));
    if (straggler != 0) {
      kill(straggler, SIGKILL);
      waitpid(straggler, nullptr, 0);
    }
    (void)!std::system(("rm -rf '" + user + "' '" + machine + "'").c_str());
  }
  // A writer SIGKILLed at a random point: the database opens and holds every value it acknowledged.
  const std::string crashUser = TempFolder();
  for (int round = 0; round < 8; ++round) {
    int acks[2];
    ASSERT_EQ(0, pipe(acks));
    const pid_t writer = fork();
    if (writer == 0) {
      close(acks[0]);
      setenv("XDG_DATA_HOME", crashUser.c_str(), 1);
      HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Crash");
      std::vector<BYTE> data(4096, static_cast<BYTE>(round));
      for (DWORD i = 0;; ++i) {
        const std::wstring name = L"r" + std::to_wstring(round) + L"v" + std::to_wstring(i);
        if (RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) != 0)
          _exit(1);
        (void)!write(acks[1], &i, sizeof i);
      }
    }
    close(acks[1]);
    DWORD acknowledged = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof acknowledged), read(acks[0], &acknowledged, sizeof acknowledged));
    usleep(3000 + round * 4000);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    for (DWORD i; read(acks[0], &i, sizeof i) == sizeof i;) acknowledged = i;
    close(acks[0]);
    EXPECT_EQ("", InChild([round, acknowledged] {
      HKEY key = nullptr;
      REQUIRE_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, KEY_READ, &key));
      for (DWORD i = 0; i <= acknowledged; ++i) {
        const std::wstring name = L"r" + std::to_wstring(round) + L"v" + std::to_wstring(i);
        DWORD size = 0;
        REQUIRE_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size));
        REQUIRE_EQ(4096u, size);
      }
      return std::string();
    }, crashUser));
  }
}

}  // namespace
