// A set written and opened again is served from the parse kept across opens
// only while the stream's bytes are the ones that parse was made of.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "CfbTestSupport.h"

namespace {

using namespace cfbtest;

void WriteName(const std::string& path, const std::string& text) {
  UserSet set;
  if (set.Open(path) == STG_E_FILENOTFOUND)  // the fixture has no user-defined set yet
    ASSERT_EQ(set.sets->Create(FMTID_UserDefinedProperties, nullptr, PROPSETFLAG_ANSI,
                               STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set.set),
              S_OK);
  ASSERT_EQ(set.Write({L"Name"}, {text}), S_OK);
  ASSERT_EQ(set.Commit(), S_OK);
}

std::string ReadName(const std::string& path) {
  UserSet set;
  const HRESULT hr = set.Open(path);
  return hr == S_OK ? set.Read(L"Name") : "<refused>";
}

// In place, as another program would: same size, same inode, no rename.
void Overwrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

TEST(PropsKeptParse, AChangeBehindItsBackIsSeenOnTheNextOpen) {
  TempDir dir;
  const std::string theirs = CopyFixture("Office365BlankSample_v2507.doc", dir);
  WriteName(theirs, "bbbb");  // the same layout as ours, one value apart
  const std::vector<uint8_t> changed = ReadAll(theirs);
  struct Row {
    const char* change;
    std::function<void(const std::string&)> apply;
    const char* expected;
  };
  const Row rows[] = {
      {"nothing", [](const std::string&) {}, "aaaa"},
      {"same size within the same second", [&](const std::string& doc) { Overwrite(doc, changed); }, "bbbb"},
      {"renamed over it",
       [&](const std::string& doc) {
         WriteAll(doc + ".new", changed);
         ASSERT_EQ(rename((doc + ".new").c_str(), doc.c_str()), 0);
       },
       "bbbb"},
      {"truncated", [](const std::string& doc) { ASSERT_EQ(truncate(doc.c_str(), 4096), 0); }, "<refused>"},
      {"old modification time",
       [&](const std::string& doc) {
         Overwrite(doc, changed);
         const timespec old[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
         ASSERT_EQ(utimensat(AT_FDCWD, doc.c_str(), old, 0), 0);
       },
       "bbbb"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.change);
    const std::string doc = dir.File("ours.doc");
    WriteAll(doc, ReadAll(FixtureDir() + "/Office365BlankSample_v2507.doc"));
    WriteName(doc, "aaaa");
    ASSERT_EQ(ReadAll(doc).size(), changed.size());
    row.apply(doc);
    EXPECT_EQ(ReadName(doc), row.expected);
  }
}

// Another writer's commit is seen on the next open: a kept parse is changed in place only when no other open holds it,
// and kept across turns only while no other writer can reach the file.
TEST(PropsKeptParse, AnotherWritersCommitIsSeenOnTheNextOpen) {
  const struct {
    const char* first;
    DWORD mode;
    bool settled;  // stamps count as settled at once: what was read is kept under a version
  } rows[] = {{"a reader beside the writer", kSwmrRead, false},
              {"a writer that lets the other take its turn", kSwmrWrite, false},
              {"a reader beside the writer, the file settled", kSwmrRead, true},
              {"a writer taking turns, the file settled", kSwmrWrite, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    struct Settle {
      explicit Settle(bool at) { cfb::SetStampSettleSeconds(at ? -100 : 3); }
      ~Settle() { cfb::SetStampSettleSeconds(3); }
    } settle(row.settled);
    TempDir dir;
    const std::string doc = CopyFixture("Office365BlankSample_v2507.doc", dir);
    WriteName(doc, "aaaa");
    const bool writer = row.mode == kSwmrWrite;
    UserSet first;
    ASSERT_EQ(first.Open(doc, row.mode), S_OK);
    ASSERT_EQ(first.Reopen(), S_OK);  // read and kept during its own turn
    EXPECT_EQ(first.Read(L"Name"), "aaaa");
    if (writer) ASSERT_EQ(first.lock->ReleaseWriteAccess(), S_OK);
    auto second = std::make_unique<UserSet>();
    ASSERT_EQ(second->Open(doc), S_OK);
    ASSERT_EQ(second->Write({L"Name"}, {"cccc"}), S_OK);  // not committed
    EXPECT_EQ(first.Read(L"Name"), "aaaa");
    ASSERT_EQ(second->Commit(), S_OK);
    if (writer) {
      second.reset();
      ASSERT_EQ(first.lock->WaitForWriteAccess(0), S_OK);
    }
    ASSERT_EQ(first.Reopen(), S_OK);
    EXPECT_EQ(first.Read(L"Name"), "cccc");
  }
}

}  // namespace
