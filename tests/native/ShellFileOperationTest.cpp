// Shell file operations on a scratch tree: what each leaves on disk, collisions, bad lists, the trash, other
// processes changing the tree meanwhile, mount points, a full disk and set-uid programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/text/FileSystemText.h"
#include "posix/shell/FileOperation.h"

namespace {

using TempDir = settings_test::TempFolder;

using settings_test::ReadBytes;
using settings_test::WriteBytes;

// 84 CJK characters: 252 bytes, within a name's 255 but not with a suffix.
const std::string kLongName = [] {
  std::string name;
  for (int i = 0; i < 84; ++i) name += "\xE5\x90\x8D";
  return name;
}();

// "a\0b\0\0" with each name under `root` (names starting with '/' as they are).
std::wstring List(const std::string& root, const std::vector<std::string>& names) {
  std::wstring list;
  for (const auto& name : names) {
    const std::string path = name[0] == '/' ? name : root + "/" + name;
    list += quorvane::posix::WideFromFileSystemText(path) + L'\0';
  }
  return list + L'\0';
}

// Empties each folder.
void Clear(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry);
}

bool OtherFileSystems(const std::string& a, const std::string& b) {
  struct stat one, two;
  return stat(a.c_str(), &one) == 0 && stat(b.c_str(), &two) == 0 && one.st_dev != two.st_dev;
}

class ShellFileOperation : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"dir", "dir/sub", "out", "out2", "keep", "keep/sub", "w", "w/What?"})
      mkdir(dir_.File(folder).c_str(), 0755);
    // w/ holds names that look like patterns.
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", "A"}, {"b.txt", "B"}, {"c.doc", "C"}, {"dir/x.txt", "X"}, {"dir/sub/y.txt", "Y"},
             {"out2/a.txt", "old"}, {"keep/sub/z.txt", "Z"}, {"w/Why?.txt", "?"}, {"w/Why2.txt", "2"},
             {"w/WhyX.txt", "X"}, {"w/Why!.txt", "!"}, {"w/notes*", "*"}, {"w/notes", "n"}, {"w/notes.odt", "o"}, {"w/a*", "a*"},
             {"w/a", "a"}, {"out2/a", "old a"}, {"w/What?/in.txt", "I"}, {"w/\xC3\xA9.txt", "E"},
             {"w/" + kLongName, "L"}})
      WriteBytes(dir_.File(name), text);
    symlink("a.txt", dir_.File("link").c_str());
  }

  // Names starting with '/' are taken as they are; fAnyOperationsAborted starts neither TRUE nor FALSE.
  int Run(UINT func, FILEOP_FLAGS flags, const std::vector<std::string>& from, const std::vector<std::string>& to,
          BOOL* aborted = nullptr) {
    const std::wstring pFrom = List(dir_.Path(), from), pTo = List(dir_.Path(), to);
    SHFILEOPSTRUCTW op{};
    op.wFunc = func;
    op.pFrom = pFrom.c_str();
    op.pTo = to.empty() ? nullptr : pTo.c_str();
    op.fFlags = flags;
    op.fAnyOperationsAborted = 77;
    const int result = SHFileOperationW(&op);
    if (aborted) *aborted = op.fAnyOperationsAborted;
    return result;
  }

  // Runs this test's own filter again in a child (`prefix` before it), the child's checks taking the other branch.
  static int RunSelf(const std::string& prefix, const std::string& filter) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return std::system((prefix + "'" + self + "' '--gtest_filter=ShellFileOperation." + filter + "'").c_str());
  }

  // "p=text": file p holds text; "!p": nothing at p; "p->t": p is a link to t.
  void ExpectTree(const std::vector<std::string>& expectations) {
    for (const auto& e : expectations) {
      struct stat st;
      if (e[0] == '!') {
        EXPECT_NE(lstat(dir_.File(e.substr(1)).c_str(), &st), 0) << e;
      } else if (e.find("->") != std::string::npos) {
        char target[256] = {};
        ASSERT_GT(readlink(dir_.File(e.substr(0, e.find("->"))).c_str(), target, sizeof target - 1), 0) << e;
        EXPECT_EQ(target, e.substr(e.find("->") + 2)) << e;
      } else {
        EXPECT_EQ(ReadBytes(dir_.File(e.substr(0, e.find('=')))), e.substr(e.find('=') + 1)) << e;
      }
    }
  }

  TempDir dir_;
};

struct OperationCase {
  const char* behaviour;
  UINT func;
  FILEOP_FLAGS flags;
  std::vector<std::string> from, to;
  int result;  // fAnyOperationsAborted is set exactly when this is ERROR_CANCELLED
  std::vector<std::string> after;
};

const FILEOP_FLAGS kQuiet = FOF_SILENT | FOF_NOCONFIRMMKDIR;

const OperationCase kCases[] = {
    {"copy into a folder", FO_COPY, kQuiet, {"a.txt"}, {"out"}, 0, {"out/a.txt=A", "a.txt=A"}},
    {"copy to a new name", FO_COPY, 0, {"a.txt"}, {"new.txt"}, 0, {"new.txt=A", "a.txt=A"}},
    {"copy a tree", FO_COPY, 0, {"dir"}, {"out"}, 0, {"out/dir/x.txt=X", "out/dir/sub/y.txt=Y"}},
    {"copy, no recursion", FO_COPY, FOF_NORECURSION, {"dir"}, {"out"}, 0, {"out/dir/x.txt=X", "!out/dir/sub"}},
    {"copy a link as a link", FO_COPY, 0, {"link"}, {"out"}, 0, {"out/link->a.txt"}},
    {"folder made", FO_COPY, 0, {"a.txt", "b.txt"}, {"made/deep"}, 0, {"made/deep/a.txt=A", "made/deep/b.txt=B"}},
    {"one destination each", FO_COPY, FOF_MULTIDESTFILES, {"a.txt", "b.txt"}, {"one.txt", "out/two.txt"}, 0,
     {"one.txt=A", "out/two.txt=B"}},
    {"wildcard", FO_COPY, 0, {"*.txt"}, {"out"}, 0, {"out/a.txt=A", "out/b.txt=B", "!out/c.doc"}},
    {"wildcard takes subfolders", FO_COPY, 0, {"dir/*"}, {"out"}, 0, {"out/x.txt=X", "out/sub/y.txt=Y"}},
    {"collision, no flags", FO_COPY, 0, {"a.txt", "b.txt"}, {"out2"}, ERROR_CANCELLED,
     {"out2/a.txt=old", "out2/b.txt=B"}},
    {"collision, no confirmation", FO_COPY, FOF_NOCONFIRMATION, {"a.txt"}, {"out2"}, 0, {"out2/a.txt=A"}},
    {"collision renamed", FO_COPY, FOF_RENAMEONCOLLISION | FOF_NOCONFIRMATION, {"a.txt"}, {"out2"}, 0,
     {"out2/a.txt=old", "out2/a (2).txt=A"}},
    {"onto itself renamed", FO_COPY, FOF_RENAMEONCOLLISION, {"a.txt"}, {"."}, 0, {"Copy of a.txt=A"}},
    {"onto itself refused", FO_COPY, 0, {"a.txt"}, {"a.txt"}, DE_SAMEFILE, {"a.txt=A"}},
    {"into its own subtree", FO_COPY, 0, {"dir"}, {"dir/sub"}, DE_DESTSUBTREE, {"!dir/sub/dir"}},
    {"missing source", FO_COPY, 0, {"a.txt", "missing.txt"}, {"out"}, ERROR_FILE_NOT_FOUND, {"!out/a.txt"}},
    {"one destination, several sources", FO_COPY, FOF_MULTIDESTFILES, {"a.txt", "b.txt"}, {"out"}, DE_MANYSRC1DEST,
     {"!out/a.txt"}},
    {"move a file", FO_MOVE, 0, {"a.txt"}, {"out"}, 0, {"out/a.txt=A", "!a.txt"}},
    {"move a folder", FO_MOVE, 0, {"dir"}, {"out"}, 0, {"out/dir/sub/y.txt=Y", "!dir"}},
    {"move onto a file", FO_MOVE, 0, {"a.txt"}, {"out2"}, ERROR_CANCELLED, {"out2/a.txt=old", "a.txt=A"}},
    {"move merges folders", FO_MOVE, FOF_NOCONFIRMATION, {"dir/sub"}, {"keep"}, 0,
     {"keep/sub/y.txt=Y", "keep/sub/z.txt=Z", "!dir/sub"}},
    {"folder collision", FO_COPY, 0, {"dir/sub"}, {"keep"}, ERROR_CANCELLED, {"!keep/sub/y.txt", "keep/sub/z.txt=Z"}},
    {"rename", FO_RENAME, 0, {"a.txt"}, {"r.txt"}, 0, {"r.txt=A", "!a.txt"}},
    {"rename elsewhere", FO_RENAME, 0, {"a.txt"}, {"out/r.txt"}, DE_DIFFDIR, {"a.txt=A", "!out/r.txt"}},
    {"rename onto a name", FO_RENAME, 0, {"a.txt"}, {"b.txt"}, ERROR_CANCELLED, {"a.txt=A", "b.txt=B"}},
    {"delete several", FO_DELETE, FOF_NOCONFIRMATION, {"a.txt", "b.txt"}, {}, 0, {"!a.txt", "!b.txt", "c.doc=C"}},
    {"delete a tree", FO_DELETE, FOF_NOCONFIRMATION, {"dir"}, {}, 0, {"!dir"}},
    {"delete, no recursion", FO_DELETE, FOF_NORECURSION, {"dir"}, {}, 0, {"!dir/x.txt", "dir/sub/y.txt=Y"}},
    {"delete a link", FO_DELETE, 0, {"link"}, {}, 0, {"!link", "a.txt=A"}},
    {"files only", FO_DELETE, FOF_FILESONLY, {"*"}, {}, 0,
     {"!a.txt", "!c.doc", "!link", "dir/x.txt=X", "out2/a.txt=old"}},
    {"the root", FO_DELETE, 0, {"/"}, {}, DE_ROOTDIR, {}},
    {"wildcard folder", FO_DELETE, 0, {"d*/x.txt"}, {}, DE_INVALIDFILES, {"dir/x.txt=X"}},
    {"'?' in a name that exists", FO_DELETE, 0, {"w/Why?.txt"}, {}, 0, {"!w/Why?.txt", "w/Why2.txt=2", "w/Why!.txt=!", "w/WhyX.txt=X"}},
    {"'?' in a file's name, as a folder", FO_DELETE, 0, {"w/Why?.txt/"}, {}, ERROR_PATH_NOT_FOUND,
     {"w/Why?.txt=?", "w/Why2.txt=2"}},
    {"'*' in a name that exists", FO_DELETE, 0, {"w/notes*"}, {}, 0, {"!w/notes*", "w/notes=n", "w/notes.odt=o"}},
    {"'*' in a name that exists, moved", FO_MOVE, FOF_NOCONFIRMATION, {"w/a*"}, {"out2"}, 0,
     {"out2/a*=a*", "w/a=a", "out2/a=old a"}},
    {"in a folder named 'What?'", FO_COPY, 0, {"w/What?/in.txt"}, {"out"}, 0, {"out/in.txt=I"}},
    {"'?' is one character", FO_COPY, 0, {"w/?.txt"}, {"out"}, 0, {"out/\xC3\xA9.txt=E"}},
    {"wildcard, no recursion", FO_DELETE, FOF_NORECURSION, {"dir/*"}, {}, 0, {"!dir/x.txt", "dir/sub/y.txt=Y"}},
    {"wildcard destination", FO_COPY, 0, {"a.txt"}, {"out/*"}, DE_INVALIDFILES, {"!out/*", "!out/a.txt"}},
    {"a long name", FO_COPY, 0, {"w/" + kLongName}, {"out"}, 0, {"out/" + kLongName + "=L"}},
};

TEST_F(ShellFileOperation, EachOperationLeavesTheExpectedTreeAndMalformedListsNone) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.behaviour);
    std::system(("rm -rf '" + dir_.Path() + "'/* '" + dir_.Path() + "'/.[!.]*").c_str());
    SetUp();
    BOOL aborted = 77;
    EXPECT_EQ(Run(c.func, c.flags, c.from, c.to, &aborted), c.result);
    EXPECT_EQ(aborted, c.result == ERROR_CANCELLED ? TRUE : FALSE);
    ExpectTree(c.after);
  }
  // Malformed lists touch nothing.
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.fFlags = FOF_NOCONFIRMATION;
  EXPECT_EQ(SHFileOperationW(&op), DE_INVALIDFILES);  // no list
  const wchar_t empty[] = {0, 0};
  op.pFrom = empty;
  EXPECT_EQ(SHFileOperationW(&op), DE_INVALIDFILES);
  // A real name, then no double zero within any sane length.
  const std::string a = dir_.File("a.txt");
  std::vector<wchar_t> endless(a.begin(), a.end());
  endless.push_back(0);
  while (endless.size() < (2u << 20)) endless.insert(endless.end(), {L'x', L'x', 0});
  endless.insert(endless.end(), {0, 0});
  op.pFrom = endless.data();
  EXPECT_EQ(SHFileOperationW(&op), DE_INVALIDFILES);
  ExpectTree({"a.txt=A"});
  EXPECT_EQ(SHFileOperationW(nullptr), ERROR_INVALID_PARAMETER);
  op.wFunc = 9;
  EXPECT_EQ(SHFileOperationW(&op), ERROR_INVALID_PARAMETER);
}

// A copy keeps mode and times; a move to /dev/shm (a tmpfs, so another file system than /tmp's) copies, then
// removes what it carried: a socket cannot be carried, so it stays and the move answers that it was cut short.
TEST_F(ShellFileOperation, CopiesKeepModeAndTimesAndMovesCrossFileSystems) {
  chmod(dir_.File("a.txt").c_str(), 0640);
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
  utimensat(AT_FDCWD, dir_.File("a.txt").c_str(), times, 0);
  ASSERT_EQ(Run(FO_COPY, 0, {"a.txt"}, {"out"}), 0);
  struct stat st;
  ASSERT_EQ(stat(dir_.File("out/a.txt").c_str(), &st), 0);
  EXPECT_EQ(std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                std::to_string(st.st_mtim.tv_nsec), "416 1000000000.500");  // 0640
  if (!OtherFileSystems("/dev/shm", dir_.Path()))
    GTEST_SKIP() << "/dev/shm and " << dir_.Path() << " are one file system";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir_.File("dir/sock");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(sock);
  char pattern[] = "/dev/shm/qv-move-XXXXXX";
  const std::string other = mkdtemp(pattern);
  BOOL aborted = FALSE;
  EXPECT_EQ(Run(FO_MOVE, 0, {"dir", "link", "w/" + kLongName}, {other}, &aborted), ERROR_CANCELLED);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(ReadBytes(other + "/dir/sub/y.txt"), "Y");
  EXPECT_EQ(ReadBytes(other + "/" + kLongName), "L");
  char target[16] = {};
  EXPECT_GT(readlink((other + "/link").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "a.txt");
  EXPECT_TRUE(lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) << "the socket stays";
  ExpectTree({"!dir/x.txt", "!dir/sub", "!link", "!w/" + kLongName});
  std::system(("rm -rf '" + other + "'").c_str());
}

// GLib reads XDG_DATA_HOME once per process: the trash check runs in a child with a scratch one.
TEST_F(ShellFileOperation, AllowUndoMovesToTheTrashWithItsRestoreRecord) {
  const char* trashHome = std::getenv("QV_TRASH_HOME");
  if (trashHome == nullptr) {
    TempDir home;
    settings_test::ScopedVariable trash("QV_TRASH_HOME", home.Path()), xdg("XDG_DATA_HOME", home.Path());
    EXPECT_EQ(0, RunSelf("", "AllowUndo*")) << "the child's checks failed";
    EXPECT_EQ(ReadBytes(home.File("Trash/files/b.txt")), "B");
    return;
  }
  ASSERT_EQ(Run(FO_DELETE, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, {"b.txt", "dir"}, {}), 0);
  ExpectTree({"!b.txt", "!dir"});
  const std::string trash = std::string(trashHome) + "/Trash";
  EXPECT_EQ(ReadBytes(trash + "/files/b.txt"), "B");
  EXPECT_EQ(ReadBytes(trash + "/files/dir/sub/y.txt"), "Y");
  const std::string info = ReadBytes(trash + "/info/b.txt.trashinfo");
  EXPECT_TRUE(info.find("[Trash Info]") != std::string::npos && info.find("DeletionDate=") != std::string::npos &&
              info.find("Path=" + dir_.File("b.txt")) != std::string::npos) << info;
  // The kernel's meaning: other/lnk is real/inner, so its ".." is real.
  for (const char* folder : {"real", "real/inner", "other"}) mkdir(dir_.File(folder).c_str(), 0755);
  WriteBytes(dir_.File("real/victim"), "R");
  WriteBytes(dir_.File("other/victim"), "O");
  symlink("../real/inner", dir_.File("other/lnk").c_str());
  ASSERT_EQ(Run(FO_DELETE, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, {"other/lnk/../victim"}, {}), 0);
  ExpectTree({"!real/victim", "other/victim=O"});
  EXPECT_EQ(ReadBytes(trash + "/files/victim"), "R");
}

// Runs `body` in a child with its own user and mount namespaces (root there, so it may mount; nothing it mounts is
// seen outside). The child's complaints come back as text; empty means all held. Skips where namespaces are off.
std::string InOwnMountNamespace(const std::function<std::string()>& body, bool* skipped) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  const std::string answer = settings_test::TextOfChild([&]() -> std::string {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return "SKIP";
    WriteBytes("/proc/self/setgroups", "deny");
    WriteBytes("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteBytes("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 ? body() : "SKIP";
  });
  *skipped = answer == "SKIP";
  return answer;
}

// A full disk: a 1 MB tmpfs as the destination. `after` is relative to it: "p=size" counts a file's bytes,
// "p=0755" is a folder's mode, "!p" nothing.
const struct {
  const char* behaviour;
  UINT func;
  const char* from;
  bool fails;
  std::string after;
} kFullDiskCases[] = {
    {"a copy that fails keeps the folder's mode", FO_COPY, "big", true, "big=0755"},
    {"a move that fails takes its copy back", FO_MOVE, "big", true, "!big"},
    {"overwriting with no room for both", FO_COPY, "same/f", false, "f=700000"},
};

// A folder holding a bind mount and a tmpfs: deleting it leaves both volumes whole, and says it was cut short.
// Then the full disk rows.
TEST_F(ShellFileOperation, MountPointsStopDeletionAndAFullDiskLeavesNoDebris) {
  mkdir(dir_.File("big").c_str(), 0755);
  mkdir(dir_.File("same").c_str(), 0755);
  const std::string chunk(600000, 'b');
  WriteBytes(dir_.File("big/1"), chunk);
  WriteBytes(dir_.File("big/2"), chunk);
  WriteBytes(dir_.File("same/f"), std::string(700000, 'n'));
  bool skipped = false;
  const std::string failures = InOwnMountNamespace([&]() -> std::string {
    mkdir(dir_.File("dir/bind").c_str(), 0755);
    mkdir(dir_.File("dir/sub/tmpfs").c_str(), 0755);
    if (mount(dir_.File("keep").c_str(), dir_.File("dir/bind").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount("none", dir_.File("dir/sub/tmpfs").c_str(), "tmpfs", 0, "size=1m") != 0)
      return "SKIP";
    WriteBytes(dir_.File("dir/sub/tmpfs/t.txt"), "T");
    BOOL aborted = FALSE;
    const int result = Run(FO_DELETE, FOF_NOCONFIRMATION, {dir_.File("dir")}, {}, &aborted);
    std::string problems;
    if (result != ERROR_CANCELLED || !aborted) problems += "answered " + std::to_string(result) + "; ";
    if (ReadBytes(dir_.File("dir/bind/sub/z.txt")) != "Z") problems += "the bind mount was entered; ";
    if (ReadBytes(dir_.File("dir/sub/tmpfs/t.txt")) != "T") problems += "the tmpfs was entered; ";
    struct stat st;
    if (lstat(dir_.File("dir/x.txt").c_str(), &st) == 0) problems += "the rest stayed; ";
    const std::string disk = dir_.File("disk");
    mkdir(disk.c_str(), 0755);
    for (const auto& c : kFullDiskCases) {
      if (mount("none", disk.c_str(), "tmpfs", 0, "size=1m") != 0) return "SKIP";
      if (c.after == "f=700000") WriteBytes(disk + "/f", std::string(700000, 'o'));
      const int answer = Run(c.func, FOF_NOCONFIRMATION, {dir_.File(c.from)}, {disk}, &aborted);
      const std::string row = std::string(c.behaviour) + ": ";
      if ((answer != 0) != c.fails) problems += row + "answered " + std::to_string(answer) + "; ";
      const std::string& e = c.after;
      const bool there = lstat((disk + "/" + e.substr(e[0] == '!', e.find('=') - (e[0] == '!'))).c_str(), &st) == 0;
      const bool ok = e[0] == '!' ? !there
                      : S_ISDIR(st.st_mode) ? there && (st.st_mode & 07777) == 0755
                                            : there && std::to_string(st.st_size) == e.substr(e.find('=') + 1);
      if (!ok) problems += row + e + "; ";
      if (ReadBytes(dir_.File("big/1")) != chunk) problems += row + "source lost; ";
      umount2(disk.c_str(), MNT_DETACH);
    }
    return problems;
  }, &skipped);
  if (skipped) GTEST_SKIP() << "no user namespaces here";
  EXPECT_EQ(failures, "");
  ExpectTree({"keep/sub/z.txt=Z"});
}

// Another process keeps swapping src/sub (a folder) with src/alt (a link to a folder, "victim", holding the same
// names). Whatever moment the swap hits, nothing is done to the victim through the link.
struct SwapRaceCase {
  const char* behaviour;
  UINT func;
  FILEOP_FLAGS flags;
  const char* from;
  const char* to;  // "@" stands for a folder on another file system
  bool wildcard;   // a wildcard in src/sub deletes either all of its names or all of the victim's
};

const SwapRaceCase kSwapRaceCases[] = {
    {"move merging into a folder", FO_MOVE, FOF_NOCONFIRMATION, "src/sub", "dst", false},
    {"move merging across file systems", FO_MOVE, FOF_NOCONFIRMATION, "src/sub", "@", false},
    {"copy of the tree", FO_COPY, FOF_NOCONFIRMATION, "src", "dst", false},
    {"wildcard delete", FO_DELETE, FOF_NOCONFIRMATION, "src/sub/*", "", true},
};

TEST_F(ShellFileOperation, FoldersSwappedForLinksAreNeverFollowed) {
  constexpr int kRuns = 150, kNames = 10;
  char pattern[] = "/dev/shm/qv-race-XXXXXX";
  const std::string other = mkdtemp(pattern);
  for (const auto& c : kSwapRaceCases) {
    SCOPED_TRACE(c.behaviour);
    int harmed = 0;
    for (int run = 0; run < kRuns; ++run) {
      Clear({dir_.Path(), other});
      const std::string dst = std::string(c.to) == "@" ? other : dir_.File("dst");
      for (const std::string& folder : {dir_.File("src"), dir_.File("src/sub"), dir_.File("victim"), dst, dst + "/sub"})
        mkdir(folder.c_str(), 0755);
      for (int i = 0; i < kNames; ++i) {
        WriteBytes(dir_.File("src/sub/f" + std::to_string(i)), "S");
        WriteBytes(dir_.File("victim/f" + std::to_string(i)), "V");
      }
      symlink("../victim", dir_.File("src/alt").c_str());
      std::atomic<bool> stop{false};
      const std::string a = dir_.File("src/sub"), b = dir_.File("src/alt");
      std::thread swapper([&] {
        while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
      });
      Run(c.func, c.flags, {dir_.File(c.from)}, c.to[0] == 0 ? std::vector<std::string>{} : std::vector{dst});
      stop = true;
      swapper.join();
      int victims = 0;
      for (int i = 0; i < kNames; ++i) victims += ReadBytes(dir_.File("victim/f" + std::to_string(i))) == "V";
      bool copiedVictim = false;
      for (const char* copy : {"/src/sub/f0", "/src/alt/f0"}) {
        struct stat st;
        const std::string path = dst + copy;
        copiedVictim |= lstat((dst + "/src").c_str(), &st) == 0 && lstat(path.c_str(), &st) == 0 &&
                        S_ISREG(st.st_mode) && ReadBytes(path) == "V";
      }
      if (copiedVictim || !(victims == kNames || (c.wildcard && victims == 0))) ++harmed;
    }
    EXPECT_EQ(harmed, 0) << "of " << kRuns << " runs";
  }
  std::filesystem::remove_all(other);
}

// A move to another file system while another process adds files to its source and appends to others: each
// added file and each edit ends up in one place or the other, and the move says it was cut short when one stayed.
// An edit counts when the file still had its name after the write (one that lands after the file was removed
// has no name left to keep).
TEST_F(ShellFileOperation, MovesAcrossFileSystemsKeepWhatTheyDidNotCarry) {
  constexpr int kRuns = 5, kAdded = 40, kOld = 400;
  char pattern[] = "/dev/shm/qv-move-XXXXXX";
  const std::string other = mkdtemp(pattern);
  if (!OtherFileSystems(other, dir_.Path()))
    GTEST_SKIP() << "/dev/shm and " << dir_.Path() << " are one file system";
  int lossyRuns = 0;
  for (int run = 0; run < kRuns; ++run) {
    Clear({dir_.Path(), other});
    const std::string src = other + "/src";
    mkdir(src.c_str(), 0755);
    for (int i = 0; i < kOld; ++i) WriteBytes(src + "/old" + std::to_string(i), std::string(4096, 'o'));
    std::atomic<bool> started{false};
    std::vector<std::string> added, edited;
    std::thread writer([&] {
      started = true;
      for (int i = 0; i < kAdded; ++i) {
        const std::string name = "new" + std::to_string(i);
        const int fd = open((src + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) break;  // the folder is gone: the move is over
        (void)!write(fd, "N", 1);
        close(fd);
        added.push_back(name);
        for (int k = 0; k < kOld / kAdded; ++k) {
          const std::string old = "old" + std::to_string((i * 37 + k * 41) % kOld);
          const int edit = open((src + "/" + old).c_str(), O_WRONLY | O_APPEND);
          struct stat st;
          if (edit >= 0 && write(edit, "E", 1) == 1 && fstat(edit, &st) == 0 && st.st_nlink > 0) edited.push_back(old);
          if (edit >= 0) close(edit);
        }
        usleep(200);
      }
    });
    while (!started) std::this_thread::yield();
    BOOL aborted = FALSE;
    const int result = Run(FO_MOVE, FOF_NOCONFIRMATION, {src}, {dir_.Path()}, &aborted);
    writer.join();
    int lost = 0, stayed = 0, editsLost = 0;
    for (const auto& name : added) {
      const bool moved = ReadBytes(dir_.File("src/" + name)) == "N", kept = ReadBytes(src + "/" + name) == "N";
      lost += !moved && !kept;
      stayed += kept;
    }
    for (const auto& name : edited) {
      const std::string moved = ReadBytes(dir_.File("src/" + name)), kept = ReadBytes(src + "/" + name);
      editsLost += moved.find('E') == std::string::npos && kept.find('E') == std::string::npos;
      stayed += !kept.empty();
    }
    if (lost + editsLost > 0 || (stayed > 0 && (result != ERROR_CANCELLED || !aborted))) ++lossyRuns;
    EXPECT_EQ(lost, 0) << "run " << run << ": " << added.size() << " added, answer " << result;
    EXPECT_EQ(editsLost, 0) << "run " << run << ": " << edited.size() << " edits";
  }
  EXPECT_EQ(lossyRuns, 0) << "of " << kRuns << " runs";
  std::filesystem::remove_all(other);
}

// A copy drops set-uid and set-gid when the copy gets another owner. Run as an ordinary user: a child of this
// test under setpriv, on files root made for it.
TEST_F(ShellFileOperation, CopiesDropSetUidForANewOwner) {
  const char* asUser = std::getenv("QV_SETUID_DIR");
  if (asUser != nullptr) {
    const std::string base = asUser;
    EXPECT_EQ(Run(FO_COPY, 0, {base + "/root-prog"}, {base + "/out"}), 0);
    EXPECT_EQ(Run(FO_COPY, 0, {base + "/own-prog"}, {base + "/out"}), 0);
    return;
  }
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
  chmod(dir_.Path().c_str(), 0777);
  mkdir(dir_.File("out").c_str(), 0777);
  chmod(dir_.File("out").c_str(), 0777);
  WriteBytes(dir_.File("root-prog"), "P");
  chmod(dir_.File("root-prog").c_str(), 04755);
  WriteBytes(dir_.File("own-prog"), "Q");
  ASSERT_EQ(chown(dir_.File("own-prog").c_str(), 65534, 65534), 0);
  chmod(dir_.File("own-prog").c_str(), 06755);
  settings_test::ScopedVariable variable("QV_SETUID_DIR", dir_.Path());
  EXPECT_EQ(0, RunSelf("setpriv --reuid=65534 --regid=65534 --clear-groups ", "CopiesDropSetUid*"));
  struct stat st;
  ASSERT_EQ(lstat(dir_.File("out/root-prog").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0755u) << "a set-uid program of root's became the user's";
  ASSERT_EQ(lstat(dir_.File("out/own-prog").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 06755u) << "the user's own program keeps its bits";
}

}  // namespace
