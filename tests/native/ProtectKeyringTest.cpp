// Where the master key lives in each state of the session's keyring, on private buses with the real gnome-keyring
// started on demand by D-Bus: the keyring is the key's home whenever one answers, a key file only serves a session
// without one, and moving a key file into the keyring loses no blob wherever the move is cut.
#include <gtest/gtest.h>

#include <memory>

#include "ProtectTestSupport.h"

namespace {

using namespace protect_test;

enum class Bus { kSilent, kNoKeyring, kKeyringOnDemand };

bool FileThere(const std::string& data) {
  struct stat st;
  return lstat((data + "/quorvane/keys/master.key").c_str(), &st) == 0;
}

TEST(ProtectKeyring, EachSessionStateGivesTheKeyOneHomeAndEveryOldBlobOpens) {
  struct Row {
    const char* name;
    Bus bus;
    bool fileBefore;  // a key file and a blob of it, made first without a bus
    DWORD protect;    // the protection's answer on the bus
    bool fileAfter;   // a key file is there afterwards
    int items;        // keys in the keyring afterwards (-1: no keyring)
  };
  const Row rows[] = {
      // A moment without an answer makes no key file; a call after it tries the bus again.
      {"silent bus", Bus::kSilent, false, kNoKey, false, -1},
      {"silent bus, key file", Bus::kSilent, true, 0, true, -1},
      {"bus without a keyring", Bus::kNoKeyring, false, 0, true, -1},
      // D-Bus starts the keyring when asked; a key file made without it moves in.
      {"keyring on demand", Bus::kKeyringOnDemand, false, 0, false, 1},
      {"keyring on demand, key file", Bus::kKeyringOnDemand, true, 0, false, 1},
  };
  for (const Row& row : rows) {
    settings_test::TempFolder data;
    std::unique_ptr<settings_test::SilentServer> silent;
    std::unique_ptr<PrivateBus> bus;
    std::string address;
    if (row.bus == Bus::kSilent) {
      silent = std::make_unique<settings_test::SilentServer>();
      address = silent->Address();
    } else {
      bus = std::make_unique<PrivateBus>(row.bus == Bus::kKeyringOnDemand);
      ASSERT_TRUE(bus->Ready()) << "no dbus-daemon";
      address = bus->Address();
    }
    const std::string old = data.File("old.blob");
    if (row.fileBefore) {
      ASSERT_EQ(0, InChild([&](const std::string&) {
        DWORD error = 0;
        SaveBlob(old, Protect(9, error));
        return error == 0 && FileThere(data.Path()) ? 0 : 1;
      }, data.Path()));
    }
    if (bus) bus->Items();  // a keyring started on demand is running before the count below
    const int before = bus ? bus->NewestConnection() : 0;
    EXPECT_EQ(0, InChild([&](const std::string&) {
      DWORD error = 0;
      const std::vector<BYTE> blob = Protect(1, error);
      if (error != row.protect) return 10;
      if (error == 0 && Unprotect(blob) != 0) return 11;
      if (row.fileBefore && Unprotect(LoadBlob(old)) != 0) return 12;
      std::vector<BYTE> foreign = row.fileBefore ? LoadBlob(old) : blob;
      if (!foreign.empty()) foreign[8] ^= 1;  // a key no store holds: looked for everywhere, each time
      for (int i = 0; i < 3 && !foreign.empty(); ++i)
        if (Unprotect(foreign) != kNoKey) return 13;
      error = 0;
      Protect(2, error);  // the second call answers as the first: no key file came meanwhile
      return error == row.protect ? 0 : 14;
    }, data.Path(), address)) << row.name;
    EXPECT_EQ(row.fileAfter, FileThere(data.Path())) << row.name;
    if (silent) {
      // The server's thread accepts what waits in its backlog when it next runs, perhaps after the child ended;
      // and on a loaded machine the deadline may pass before the connection is even made: none is then right too.
      for (int i = 0; i < 200 && silent->Accepted() < 1; ++i) usleep(10000);
      usleep(50000);
      EXPECT_LE(silent->Accepted(), 1) << row.name << ": a silent bus costs one deadline, not one a call";
    }
    if (bus) EXPECT_EQ(1, bus->NewestConnection() - before - 1) << row.name << ": one connection for every call";
    if (bus && row.items >= 0) EXPECT_EQ(static_cast<size_t>(row.items), bus->Items().size()) << row.name;
    if (row.fileBefore && !row.fileAfter) {
      // The old blob opens from the keyring alone.
      EXPECT_EQ(0, InChild([&](const std::string&) {
        return Unprotect(LoadBlob(old)) == 0 && !FileThere(data.Path()) ? 0 : 1;
      }, data.Path(), address)) << row.name;
    }
  }
}

// The move of a key file into the keyring, cut by SIGKILL at points swept across it: after each cut the old blob
// opens (from the file while there is one, else from the keyring alone), and a run to its end finishes the move.
TEST(ProtectKeyring, AKeyFileMovedIntoTheKeyringLosesNoBlobWhereverTheMoveIsCut) {
  PrivateBus bus(true);
  ASSERT_TRUE(bus.Ready()) << "no dbus-daemon";
  settings_test::TempFolder data;
  const std::string old = data.File("old.blob"), key = data.Path() + "/quorvane/keys/master.key";
  ASSERT_EQ(0, InChild([&](const std::string&) {
    DWORD error = 0;
    SaveBlob(old, Protect(9, error));
    return error == 0 ? 0 : 1;
  }, data.Path()));
  const std::string keyBytes = settings_test::ReadBytes(key);
  ASSERT_EQ(32u, keyBytes.size());
  bus.Items();  // the keyring started, so each run's timing is the move's
  int fileOnly = 0, both = 0, keyringOnly = 0, cuts = 0;
  bool finished = false;
  for (int delayUs = 0; !finished && delayUs < 2000000; delayUs += 150) {
    bus.DeleteItems();
    if (!FileThere(data.Path())) {
      settings_test::WriteBytes(key, keyBytes);
      chmod(key.c_str(), 0600);
    }
    const pid_t child = fork();
    if (child == 0) {
      setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
      setenv("HOME", data.Path().c_str(), 1);
      setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
      DWORD error = 0;
      Protect(1, error);
      _exit(error == 0 ? 0 : 1);
    }
    usleep(delayUs);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    finished = WIFEXITED(status);
    ++cuts;
    const bool file = FileThere(data.Path());
    const size_t items = bus.Items().size();
    ASSERT_TRUE(file || items == 1) << "cut after " << delayUs << " us: the key is in no store";
    (file ? (items ? both : fileOnly) : keyringOnly) += 1;
    const auto opens = [&](const std::string&) { return Unprotect(LoadBlob(old)) == 0 ? 0 : 1; };
    EXPECT_EQ(0, InChild(opens, data.Path(), file ? "" : bus.Address()))
        << "cut after " << delayUs << " us, " << (file ? "key file" : "keyring alone");
  }
  std::printf("%d cuts: %d left the key file alone, %d both stores, %d the keyring alone\n", cuts, fileOnly, both,
              keyringOnly);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(FileThere(data.Path()));
  EXPECT_EQ(1u, bus.Items().size());
}

}  // namespace
