// The master key held between calls: a changed key file is noticed, and the held key sits in locked memory left out of
// core dumps. Each row runs in a child process with its own key folder and no session bus.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>

#include <atomic>
#include <thread>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/crypto/MasterKey.h"

namespace {

// The blob of `byte` protected, or empty with the error in `error`.
std::vector<BYTE> Protect(BYTE byte, DWORD& error) {
  DATA_BLOB plain = {1, &byte}, blob = {};
  if (!CryptProtectData(&plain, L"ark_secret", nullptr, nullptr, nullptr, 0, &blob)) {
    error = GetLastError();
    return {};
  }
  std::vector<BYTE> out(blob.pbData, blob.pbData + blob.cbData);
  LocalFree(blob.pbData);
  return out;
}

// 0 when `blob` opens, else the error.
DWORD Unprotect(std::vector<BYTE> blob) {
  DATA_BLOB in = {static_cast<DWORD>(blob.size()), blob.data()}, out = {};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) return GetLastError();
  LocalFree(out.pbData);
  return 0;
}

std::vector<BYTE> KeyId(const std::vector<BYTE>& blob) {
  return blob.size() < 24 ? blob : std::vector<BYTE>(blob.begin() + 8, blob.begin() + 24);
}

// Runs `body` in a child with its own data folder (passed in; `given`, kept, when there is one) and no session bus;
// its exit code.
int InChild(const std::function<int(const std::string&)>& body, const std::string& given = "") {
  char pattern[] = "/tmp/qv-keycache-XXXXXX";
  const std::string data = given.empty() ? mkdtemp(pattern) : given;
  const pid_t child = fork();
  if (child == 0) {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("HOME", data.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    _exit(body(data));
  }
  int status = 0;
  const bool ended = waitpid(child, &status, 0) == child;
  if (given.empty()) std::system(("rm -rf '" + data + "'").c_str());
  return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const DWORD kNoKey = static_cast<DWORD>(NTE_BAD_KEY_STATE);

TEST(ProtectKeyCache, AChangedKeyFileIsNoticedWithinASecondAndAnUnchangedOneKeepsItsKey) {
  struct Row {
    const char* change;  // shell command run in the key folder between the two protections
    bool sameKey;        // the second blob's key is the first's
    DWORD second;        // the second protection's error, 0 for none
    DWORD firstOpens;    // opening the first blob afterwards
  };
  const Row rows[] = {
      {"true", true, 0, 0},
      {"rm master.key", false, 0, kNoKey},  // a new key is made; the first is gone
      {"head -c 32 /dev/urandom > k && chmod 600 k && mv k master.key", false, 0, kNoKey},
      {"chmod 644 master.key", false, kNoKey, kNoKey},  // a store others can read is refused
  };
  for (const Row& row : rows) {
    const int code = InChild([&](const std::string& data) {
      DWORD error = 0;
      const std::vector<BYTE> first = Protect(1, error);
      if (first.empty() || Unprotect(first) != 0) return 10;
      if (std::system(("cd '" + data + "/quorvane/keys' && " + row.change).c_str()) != 0) return 11;
      usleep(1100 * 1000);  // past the held key's next look at its store
      error = 0;
      const std::vector<BYTE> second = Protect(2, error);
      if (error != row.second) return 12;
      if (error == 0 && (KeyId(second) == KeyId(first)) != row.sameKey) return 13;
      return Unprotect(first) == row.firstOpens ? 0 : 14;
    });
    EXPECT_EQ(0, code) << row.change;
  }
}

TEST(ProtectKeyCache, TheHeldKeyIsInLockedMemoryLeftOutOfCoreDumps) {
#ifdef __SANITIZE_ADDRESS__
  const bool locks = false;  // ASan's mlock does nothing
#else
  const bool locks = true;
#endif
  EXPECT_EQ(0, InChild([&](const std::string&) {
    DWORD error = 0;
    if (Protect(1, error).empty()) return 10;
    std::ifstream maps("/proc/self/smaps");
    for (std::string line; std::getline(maps, line);) {
      if (line.rfind("VmFlags:", 0) == 0 && (!locks || line.find(" lo") != std::string::npos) &&
          line.find(" dd") != std::string::npos)
        return 0;
    }
    return 11;
  }));
}

// A session bus that never answers costs each process one deadline (1.5 s), not one a look-up; the key file serves.
TEST(ProtectKeyCache, ASilentSessionBusCostsOneDeadlineAndTheKeyFileServes) {
  settings_test::SilentServer bus;
  settings_test::TempFolder data;
  for (const bool makesTheKey : {true, false}) {
    EXPECT_EQ(0, InChild([&](const std::string& folder) {
      setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
      const auto start = std::chrono::steady_clock::now();
      DWORD error = 0;
      if (makesTheKey) {
        const std::vector<BYTE> made = Protect(1, error);
        settings_test::WriteBytes(folder + "/blob", std::string(made.begin(), made.end()));
      }
      const std::string bytes = settings_test::ReadBytes(folder + "/blob");
      const std::vector<BYTE> blob(bytes.begin(), bytes.end());
      std::vector<BYTE> foreign = blob;
      if (foreign.size() < 24) return 10;
      foreign[8] ^= 1;  // a key id the key file does not hold: looked for on the bus
      if (Unprotect(foreign) != kNoKey || Unprotect(blob) != 0 || Unprotect(foreign) != kNoKey) return 11;
      return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(2500) ? 0 : 12;
    }, data.Path())) << (makesTheKey ? "the process that makes the key" : "a later process");
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
