// Shell file operations on a scratch tree: what each leaves on disk, collisions, bad lists, the trash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
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
  struct stat here, shm;
  if (stat("/dev/shm", &shm) != 0 || stat(dir_.Path().c_str(), &here) != 0 || here.st_dev == shm.st_dev)
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
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(0, std::system(("'" + self + "' '--gtest_filter=ShellFileOperation.AllowUndo*'").c_str()))
        << "the child's checks failed";
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

}  // namespace
