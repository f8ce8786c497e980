// Reading compound files against olefile; nested storages; loops fail cleanly (damaged copies: cfb_fuzz).
#include <gtest/gtest.h>

#include <filesystem>

#include "CfbTestSupport.h"
#include "posix/storage/StorageApi.h"
#include "posix/storage/cfb/Update.h"

namespace {

using namespace cfbtest;

TEST(CfbRead, EveryFixtureReadsAsOlefileReadsItNestedStoragesToo) {
  std::vector<std::string> paths;
  std::error_code missing;  // no paths then
  for (const auto& entry : std::filesystem::directory_iterator(FixtureDir(), missing)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name != "README.md" && name[0] != '.' && name != "FatChainLoop_v3.cfs")
      paths.push_back(FixtureDir() + "/" + name);
  }
  std::sort(paths.begin(), paths.end());
  ASSERT_GE(paths.size(), 19u);
  const auto oracle = OlefileListings(paths);
  ASSERT_EQ(oracle.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    std::vector<std::string> ours;
    ASSERT_EQ(EngineListing(paths[i], ours), S_OK) << paths[i];
    EXPECT_FALSE(ours.empty()) << paths[i];
    EXPECT_EQ(ours, oracle[i]) << paths[i];
    // And through the public entry point, shared reading as the library opens it.
    const std::wstring wide = settings_test::Wide(paths[i]);
    IStorage* storage = nullptr;
    ASSERT_EQ(StgOpenStorage(wide.c_str(), nullptr, kSwmrRead, nullptr, 0, &storage), S_OK);
    storage->Release();
    EXPECT_EQ(StgIsStorageFile(wide.c_str()), S_OK);
  }
  // Nested storages walk and read, names in any case.
  std::shared_ptr<cfb::CompoundFile> file;
  ASSERT_EQ(cfb::CompoundFile::Open(FixtureDir() + "/MultipleStorage3.cfs", ReadOnly(), file), S_OK);
  std::vector<cfb::WalkEntry> entries;
  ASSERT_EQ(file->Walk(entries), S_OK);
  std::vector<std::string> walked;
  for (const auto& e : entries) {
    std::string joined;
    for (const auto& part : e.path) joined += "/" + Narrow(part);
    walked.push_back(joined + (e.entry.objectType == cfb::kTypeStorage ? "/" : ""));
  }
  std::sort(walked.begin(), walked.end());
  const std::string s = "/MyStorage/", a = s + "AnotherStorage/";
  EXPECT_EQ(walked, (std::vector<std::string>{s, s + "Another2Storage/", a, a + "Another2Stream", a + "Another3Stream",
                                              a + "AnotherStream", s + "MySecondStream", s + "MyStream"}));
  std::vector<uint8_t> data;
  EXPECT_EQ(file->ReadStreamAt({u"MYSTORAGE", u"anotherstorage", u"AnotherStream"}, data), S_OK) << "any case";
  EXPECT_EQ(file->ReadStreamAt({u"MyStorage", u"AnotherStorage"}, data), STG_E_FILENOTFOUND);  // a storage
  EXPECT_EQ(file->ReadStreamAt({u"MyStorage", u"Nothing", u"AnotherStream"}, data), STG_E_FILENOTFOUND);
  EXPECT_EQ(file->ReadStream(u"MyStream", data), STG_E_FILENOTFOUND);  // not in the root
}

// Files that are not compound or missing; a directory entry that is its own sibling or child; a FAT that loops.
TEST(CfbRead, NonCompoundMissingAndLoopingFiles) {
  TempDir dir;
  WriteAll(dir.File("text.doc"), std::vector<uint8_t>(2000, 'x'));
  WriteAll(dir.File("empty.doc"), {});
  std::shared_ptr<cfb::CompoundFile> file;
  EXPECT_EQ(cfb::CompoundFile::Open(dir.File("text.doc"), ReadOnly(), file), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(cfb::CompoundFile::Open(dir.File("empty.doc"), ReadOnly(), file), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(cfb::CompoundFile::Open(dir.File("missing.doc"), ReadOnly(), file), STG_E_FILENOTFOUND);
  EXPECT_EQ(cfb::CompoundFile::Open(dir.File("no/such/dir.doc"), ReadOnly(), file), STG_E_PATHNOTFOUND);
  EXPECT_EQ(cfb::CompoundFile::Open(dir.Path(), ReadOnly(), file), STG_E_ACCESSDENIED);
  EXPECT_EQ(StgIsStorageFile(L"/nonexistent/qv.doc"), STG_E_PATHNOTFOUND);
  EXPECT_EQ(StgIsStorageFile(settings_test::Wide(dir.File("text.doc")).c_str()), S_FALSE);
  EXPECT_EQ(StgIsStorageFile(nullptr), STG_E_INVALIDNAME);
  const std::string path = CopyFixture("MultipleStorage.cfs", dir);
  const std::vector<uint8_t> bytes = ReadAll(path);
  ASSERT_GE(bytes.size(), 2048u) << "fixture missing: " << path;
  const size_t entry1 = (cfb::Load32(bytes.data() + cfb::kHeaderFirstDirSector) + 1) * 512 + 128;
  std::vector<std::string> lines;
  for (size_t field : {cfb::kDirLeftSibling, cfb::kDirChild}) {
    std::vector<uint8_t> looped = bytes;
    cfb::Store32(looped.data() + entry1 + field, 1);
    WriteAll(path, looped);
    EXPECT_EQ(EngineListing(path, lines), STG_E_DOCFILECORRUPT) << field;
  }
  EXPECT_EQ(EngineListing(FixtureDir() + "/FatChainLoop_v3.cfs", lines), STG_E_DOCFILECORRUPT);
}

// The sectors a Fat has seen in use (chains walked, tables read): one bit each, across word boundaries.
TEST(CfbRead, SectorSetHoldsEachSectorOnce) {
  cfb::SectorSet set;
  for (const uint32_t sector : {0u, 63u, 64u, 65u, 127u, 4096u, (1u << 22) + 1}) {
    EXPECT_FALSE(set.Contains(sector)) << sector;
    EXPECT_TRUE(set.Insert(sector)) << sector;
    EXPECT_FALSE(set.Insert(sector)) << sector;
    EXPECT_TRUE(set.Contains(sector)) << sector;
    EXPECT_FALSE(set.Contains(sector + 1)) << sector;
  }
}

// A small stream of a large file reads a few kilobytes; an unchanged file is not read again; a change is seen.
TEST(CfbRead, ReadsTouchLittleAndUnchangedFilesAreNotReadAgain) {
  TempDir dir;
  const std::string large = dir.File("large.cfs");
  std::shared_ptr<cfb::CompoundFile> file;
  ASSERT_EQ(cfb::CompoundFile::Create(large, ReadWriteExclusive(), false, 3, file), S_OK);
  ASSERT_EQ(file->WriteStream(u"Small", Pattern(300, 1)), S_OK);
  ASSERT_EQ(file->WriteStream(u"Large", Pattern(24u << 20, 2)), S_OK);
  file.reset();
  ASSERT_EQ(cfb::CompoundFile::Open(large, ReadOnly(), file), S_OK);
  uint64_t before = file->BytesRead();
  std::vector<uint8_t> data;
  ASSERT_EQ(file->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 1));
  EXPECT_LT(file->BytesRead() - before, 8u * 1024) << "one small stream of a large file";
  struct SettleAtOnce {
    SettleAtOnce() { cfb::SetStampSettleSeconds(-100); }
    ~SettleAtOnce() { cfb::SetStampSettleSeconds(3); }
  } settle;
  auto make = [](const std::string& path, uint8_t seed) {
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Create(path, ReadWriteExclusive(), false, 3, file), S_OK);
    ASSERT_EQ(file->WriteStream(u"Small", Pattern(300, seed)), S_OK);
    ASSERT_EQ(file->WriteStream(u"Other", Pattern(200, 2)), S_OK);
  };
  const std::string path = dir.File("kept.cfs");
  make(path, 1);
  make(dir.File("changed.cfs"), 9);
  ASSERT_EQ(cfb::CompoundFile::Open(path, ReadOnly(), file), S_OK);
  ASSERT_EQ(file->ReadStream(u"Small", data), S_OK);
  before = file->BytesRead();
  ASSERT_EQ(file->ReadStream(u"Other", data), S_OK);
  EXPECT_LE(file->BytesRead() - before, 200u + 512);  // its bytes and one table sector; not the header again
  ASSERT_EQ(cfb::CompoundFile::Open(path, ReadOnly(), file), S_OK);
  ASSERT_EQ(file->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 1));
  EXPECT_EQ(file->BytesRead(), 0u);  // nothing at all on a second open

  usleep(30000);  // past the change-time granularity
  WriteAll(path, ReadAll(dir.File("changed.cfs")));  // changed behind the engine's back
  ASSERT_EQ(file->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 9));
  usleep(30000);
  cfb::ShareMode shared;
  shared.write = true;
  std::shared_ptr<cfb::CompoundFile> writer;
  ASSERT_EQ(cfb::CompoundFile::Open(path, shared, writer), S_OK);
  ASSERT_EQ(writer->WriteStream(u"Small", Pattern(300, 5)), S_OK);
  ASSERT_EQ(file->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 5));

  // Two files open at once on one thread: each reads its own bytes, whichever was loaded last.
  make(dir.File("a.cfs"), 3);
  make(dir.File("b.cfs"), 4);
  std::shared_ptr<cfb::CompoundFile> a, b;
  ASSERT_EQ(cfb::CompoundFile::Open(dir.File("a.cfs"), ReadOnly(), a), S_OK);
  ASSERT_EQ(cfb::CompoundFile::Open(dir.File("b.cfs"), ReadOnly(), b), S_OK);
  ASSERT_EQ(a->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 3));
  ASSERT_EQ(b->ReadStream(u"Small", data), S_OK);
  EXPECT_EQ(data, Pattern(300, 4));
}

}  // namespace
