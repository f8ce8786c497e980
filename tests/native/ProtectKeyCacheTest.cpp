// The master key held between calls: a changed key file is noticed, a refused one is logged once with its reason, the
// held key sits in memory left out of core dumps (locked where it can be), and key folders are made only where the
// caller owns the nearest folder. Each row runs in a child process with its own key folder and no session bus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "ProtectTestSupport.h"
#include "posix/crypto/MasterKey.h"

namespace {

using namespace protect_test;

TEST(ProtectKeyCache, AChangedKeyFileIsNoticedWithinASecondAndARefusedOneIsLoggedOnceWithItsReason) {
  struct Row {
    const char* change;  // shell command run in the key folder between the two protections
    bool sameKey;        // the second blob's key is the first's
    DWORD second;        // the second protection's error, 0 for none
    DWORD firstOpens;    // opening the first blob afterwards
    const char* logged;  // what the one log line says, null when none is due
  };
  const Row rows[] = {
      {"true", true, 0, 0, nullptr},
      {"rm master.key", false, 0, kNoKey, nullptr},  // a new key is made; the first is gone
      {"head -c 32 /dev/urandom > k && chmod 600 k && mv k master.key", false, 0, kNoKey, nullptr},
      // A store others can read or change is refused.
      {"chmod 644 master.key", false, kNoKey, kNoKey, "master.key: mode 0644"},
      {"chmod 755 .", false, kNoKey, kNoKey, "keys: mode 0755"},
      {"head -c 31 /dev/urandom > k && chmod 600 k && mv k master.key", false, kNoKey, kNoKey, "not 32 bytes"},
      {"rm master.key && ln -s /dev/null master.key", false, kNoKey, kNoKey, "master.key: a symbolic link"},
  };
  for (const Row& row : rows) {
    const int code = InChild([&](const std::string& data) {
      const std::string log = data + ".log";
      if (!CaptureSystemLog(log)) return 9;
      DWORD error = 0;
      const std::vector<BYTE> first = Protect(1, error);
      if (first.empty() || Unprotect(first) != 0) return 10;
      if (std::system(("cd '" + data + "/quorvane/keys' && " + row.change).c_str()) != 0) return 11;
      usleep(1100 * 1000);  // past the held key's next look at its store
      error = 0;
      const std::vector<BYTE> second = Protect(2, error);
      if (error != row.second) return 12;
      if (error == 0 && (KeyId(second) == KeyId(first)) != row.sameKey) return 13;
      if (Unprotect(first) != row.firstOpens) return 14;
      error = 0;
      Protect(3, error);
      if (error != row.second) return 14;
      const int refusals = LinesWith(log, {"quorvane: data protection refuses"});
      const int told = row.logged ? LinesWith(log, {"quorvane: data protection refuses", row.logged}) : 0;
      unlink(log.c_str());
      return refusals == (row.logged ? 1 : 0) && told == refusals ? 0 : 15;
    });
    EXPECT_EQ(0, code) << row.change;
  }
}

// The held key sits in a page left out of core dumps; locked where the process may lock memory, unlocked (yet held:
// the store is not read again) where it may not.
TEST(ProtectKeyCache, TheHeldKeyIsLeftOutOfCoreDumpsAndLockedWhereMemoryMayBeLocked) {
#ifdef __SANITIZE_ADDRESS__
  const bool asan = true;  // ASan's mlock does nothing
#else
  const bool asan = false;
#endif
  struct Row {
    const char* name;
    bool nobodyWithoutLockedMemory;  // uid 65534 under RLIMIT_MEMLOCK 0 (root may lock memory whatever the limit)
    bool locked;
  };
  const Row rows[] = {
      {"root", false, !asan},
      {"uid 65534, ulimit -l 0", true, false},
  };
  for (const Row& row : rows) {
    if (row.nobodyWithoutLockedMemory && geteuid() != 0) continue;
    EXPECT_EQ(0, InChild([&](const std::string& data) {
      if (row.nobodyWithoutLockedMemory) {
        const struct rlimit none = {0, 0};
        if (chown(data.c_str(), kNobody, kNobody) != 0 || setrlimit(RLIMIT_MEMLOCK, &none) != 0 || !BecomeNobody())
          return 9;
      }
      DWORD error = 0;
      const std::vector<BYTE> blob = Protect(1, error);
      if (blob.empty()) return 10;
      // Held: with the key file unreadable from here on, protecting and opening still work.
      if (chmod((data + "/quorvane/keys").c_str(), 0) != 0 || Protect(2, error).empty() || Unprotect(blob) != 0)
        return 11;
      std::ifstream maps("/proc/self/smaps");
      for (std::string line; std::getline(maps, line);) {
        if (line.rfind("VmFlags:", 0) == 0 && line.find(" dd") != std::string::npos &&
            (line.find(" lo") != std::string::npos) == row.locked)
          return 0;
      }
      return 12;
    })) << row.name;
  }
}

// Key folders are made only where the nearest existing folder belongs to the caller: root with another user's HOME
// (sudo keeping HOME) makes nothing there, and that user's own protection works afterwards.
TEST(ProtectKeyCache, KeyFoldersAreMadeOnlyWhereTheCallerOwnsTheNearestFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  settings_test::TempFolder home;  // one home, used by the rows in turn
  const std::string user = home.File("user");
  mkdir(user.c_str(), 0755);
  ASSERT_EQ(0, chown(user.c_str(), kNobody, kNobody));
  chmod(home.Path().c_str(), 0755);
  struct Row {
    const char* name;
    bool asNobody;
    const char* dataHome;  // XDG_DATA_HOME below the home, or null for ~/.local/share
    DWORD error;
    const char* logged;  // what the one log line says, null when none is due
  };
  const Row rows[] = {
      {"root with uid 65534's HOME", false, nullptr, kNoKey, "/user, which another user owns"},
      {"root with XDG_DATA_HOME in it", false, "/user/data", kNoKey, "/user, which another user owns"},
      {"uid 65534 afterwards", true, nullptr, 0, nullptr},
      {"root with the home now made", false, nullptr, kNoKey, "keys: owned by uid 65534, not by uid 0"},
  };
  for (const Row& row : rows) {
    const std::string log = home.File("log");
    EXPECT_EQ(0, InChild([&](const std::string&) {
      if (!CaptureSystemLog(log)) return 9;
      setenv("HOME", user.c_str(), 1);
      if (row.dataHome) setenv("XDG_DATA_HOME", (home.Path() + row.dataHome).c_str(), 1);
      else unsetenv("XDG_DATA_HOME");
      if (row.asNobody && !BecomeNobody()) return 10;
      DWORD error = 0;
      const std::vector<BYTE> blob = Protect(1, error);
      if (error != row.error || (error == 0 && Unprotect(blob) != 0)) return 11;
      struct stat st;
      // Whatever root was refused, nothing of root's is left in the home.
      const std::string found = Output("find '" + user + "' -uid 0");
      if (!found.empty()) return 12;
      if (row.error == 0 && (stat((user + "/.local/share/quorvane/keys").c_str(), &st) != 0 || st.st_uid != kNobody))
        return 13;
      const int refusals = LinesWith(log, {"quorvane: data protection refuses"});
      return refusals == (row.logged ? 1 : 0) && (!row.logged || LinesWith(log, {row.logged}) == 1) ? 0 : 14;
    })) << row.name;
  }
}

// The key folder checked as private is the one read from: while another process keeps swapping it with a link to
// a folder others could change, a key found only there is never handed out.
TEST(ProtectKeyCache, AKeyFolderSwappedForALinkNeverLendsAnotherStoresKey) {
  constexpr int kRuns = 200000;
  EXPECT_EQ(0, InChild([&](const std::string& data) {
    const std::string base = data + "/quorvane", keys = base + "/keys";
    quorvane::posix::MasterKey foreign;
    // The foreign key is made where it would be trusted, then its folder is opened to others.
    if (quorvane::posix::LoadMasterKey(nullptr, foreign) != 0) return 10;
    if (rename(keys.c_str(), (base + "/open").c_str()) != 0 || chmod((base + "/open").c_str(), 0755) != 0) return 11;
    if (mkdir(keys.c_str(), 0700) != 0 || symlink("open", (base + "/alt").c_str()) != 0) return 12;
    settings_test::WriteBytes(keys + "/master.key", std::string(quorvane::posix::kMasterKeySize, 'k'));
    chmod((keys + "/master.key").c_str(), 0600);
    std::atomic<bool> stop{false};
    const std::string alt = base + "/alt";
    std::thread swapper([&] {
      while (!stop) renameat2(AT_FDCWD, keys.c_str(), AT_FDCWD, alt.c_str(), RENAME_EXCHANGE);
    });
    int lent = 0;
    for (int run = 0; run < kRuns; ++run) {
      quorvane::posix::MasterKey key;
      lent += quorvane::posix::LoadMasterKey(foreign.id, key) == 0;
    }
    stop = true;
    swapper.join();
    std::printf("%d of %d loads lent the foreign key\n", lent, kRuns);
    std::fflush(stdout);
    return lent == 0 ? 0 : 1;
  }));
}

}  // namespace
