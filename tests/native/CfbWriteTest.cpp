// Written compound files read back with our engine and olefile; the directory stays a red-black tree.
#include "CfbTestSupport.h"
#include "posix/storage/cfb/StorageObject.h"
#include "posix/storage/cfb/View.h"

namespace {

using namespace cfbtest;

// Black height of a subtree, or -1 when a red-black rule is broken.
int CheckSubtree(cfb::View& view, uint32_t id, bool parentRed, std::vector<std::u16string>& order, int depth) {
  if (id == cfb::kNoStream) return 1;
  if (depth > 64) return -1;
  cfb::DirEntry entry;
  if (FAILED(view.directory.Get(id, entry))) return -1;
  const bool red = entry.color == cfb::kRed;
  if (red && parentRed) return -1;
  const int left = CheckSubtree(view, entry.leftSibling, red, order, depth + 1);
  order.push_back(entry.name);
  const int right = CheckSubtree(view, entry.rightSibling, red, order, depth + 1);
  if (left < 0 || right < 0 || left != right) return -1;
  return left + (red ? 0 : 1);
}

void ExpectValidRootTree(const std::string& path) {
  std::unique_ptr<cfb::FileIo> io;
  ASSERT_EQ(cfb::FileIo::Open(path, false, cfb::OpenDisposition::kOpenExisting, io), S_OK);
  cfb::FileStamp stamp;
  ASSERT_EQ(io->Stamp(&stamp), S_OK);
  std::unique_ptr<cfb::View> view;
  ASSERT_EQ(cfb::View::Load(*io, stamp.size, view), S_OK);
  if (view->root.child == cfb::kNoStream) return;
  cfb::DirEntry top;
  ASSERT_EQ(view->directory.Get(view->root.child, top), S_OK);
  EXPECT_EQ(top.color, cfb::kBlack);
  std::vector<std::u16string> order;
  EXPECT_GT(CheckSubtree(*view, view->root.child, false, order, 0), 0) << path;
  for (size_t i = 1; i < order.size(); ++i) EXPECT_LT(cfb::CompareNames(order[i - 1], order[i]), 0);
}

// Sizes around the cutoffs, growing and shrinking across them; then many names added and deleted at random.
TEST(CfbWrite, NewFilesOfBothVersionsAndModifiedDocumentsReadBackEverywhere) {
  TempDir dir;
  for (uint16_t version : {3, 4}) {
    const std::string path = dir.File("new_v" + std::to_string(version) + ".cfs");
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Create(path, ReadWriteExclusive(), false, version, file), S_OK);
    std::map<std::string, std::vector<uint8_t>> streams;
    uint8_t seed = 0;
    for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
             {"S0", 0}, {"S1", 1}, {"S63", 63}, {"S64", 64}, {"S65", 65}, {"S4095", 4095}, {"S4096", 4096},
             {"S4097", 4097}, {"S70000", 70000}, {"S1", 9000}, {"S70000", 100}, {"S4096", 0}, {"S63", 4000}})
      ASSERT_EQ(file->WriteStream(Wide(name), streams[name] = Pattern(size, ++seed)), S_OK);
    ASSERT_EQ(file->DeleteStream(u"S65"), S_OK);
    streams.erase("S65");
    EXPECT_EQ(file->DeleteStream(u"S65"), STG_E_FILENOTFOUND);
    uint32_t x = 7;
    for (int i = 0; i < 120; ++i) {
      x = x * 1103515245u + 12345u;
      const std::string name = "n" + std::to_string(x % 100000) + std::string(i % 7 ? 0 : i % 20, 'z');
      ASSERT_EQ(file->WriteStream(Wide(name), streams[name] = Pattern(20 + i, static_cast<uint8_t>(i))), S_OK);
      if (i % 5 == 4) {
        auto victim = std::next(streams.begin(), x % streams.size());
        ASSERT_EQ(file->DeleteStream(Wide(victim->first)), S_OK);
        streams.erase(victim);
      }
      if (i % 20 == 0) ExpectValidRootTree(path);  // raw reads: no share locks involved
    }
    ASSERT_EQ(file->Commit(), S_OK);
    // Names the format cannot hold.
    for (const std::u16string& bad : {std::u16string(32, u'a'), std::u16string(u"a/b"), std::u16string()})
      EXPECT_EQ(file->WriteStream(bad, {}), STG_E_INVALIDNAME);
    file.reset();  // it was opened exclusively
    ExpectListing(path, Lines(streams));
    ExpectValidRootTree(path);
    if (version == 4) EXPECT_EQ(ReadAll(path).size() % 4096, 0u);
  }
  // Office and LibreOffice documents: the property streams change, nothing else.
  for (const std::string name : {"Office365BlankSample_v2507.doc", "LibreOfficeBlankSample_v25.8.xls",
                                 "LibreOfficeBlankSample_v25.8.ppt", "no_codepage.doc", "2custom.doc"}) {
    const std::string path = CopyFixture(name, dir);
    std::vector<std::string> before;
    ASSERT_EQ(EngineListing(path, before), S_OK);
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
    std::vector<std::string> expected;
    for (const auto& line : before)
      if (line.rfind("\005", 0) != 0) expected.push_back(line);
    // Then a new name: the root's tree is written afresh, balanced and valid.
    for (const auto& [stream, data] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
             {"\005SummaryInformation", Pattern(700, 1)}, {"\005DocumentSummaryInformation", Pattern(5000, 2)},
             {"QvAdded", Pattern(10, 3)}}) {
      ASSERT_EQ(file->WriteStream(Wide(stream), data), S_OK);
      expected.push_back(Line(stream, data));
      if (stream[0] == '\005') EXPECT_LT(file->BytesWritten(), 64u * 1024) << name;
    }
    file.reset();
    std::sort(expected.begin(), expected.end());
    ExpectListing(path, expected);
    ExpectValidRootTree(path);
  }
}

// More than 109 FAT sectors: the DIFAT chain grows (version 3).
TEST(CfbWrite, BigStreamNeedsDifatSectorsAndATableBeyondTheEndRefusesUpdates) {
  TempDir dir;
  const std::string path = dir.File("big.cfs");
  std::shared_ptr<cfb::CompoundFile> file;
  ASSERT_EQ(cfb::CompoundFile::Create(path, ReadWriteExclusive(), false, 3, file), S_OK);
  const std::vector<uint8_t> big = Pattern(9u << 20, 9);
  ASSERT_EQ(file->WriteStream(u"Big", big), S_OK);
  ASSERT_EQ(file->WriteStream(u"Small", Pattern(500, 3)), S_OK);
  file.reset();
  const std::vector<uint8_t> bytes = ReadAll(path);
  EXPECT_GT(cfb::Load32(bytes.data() + cfb::kHeaderNumFatSectors), 109u);
  EXPECT_GE(cfb::Load32(bytes.data() + cfb::kHeaderNumDifatSectors), 1u);
  ExpectListing(path, {Line("Big", big), Line("Small", Pattern(500, 3))});
  // Replacing the big stream frees its sectors, which the next one reuses.
  ASSERT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
  ASSERT_EQ(file->WriteStream(u"Big", Pattern(100, 4)), S_OK);
  ASSERT_EQ(file->WriteStream(u"Other", Pattern(8u << 20, 5)), S_OK);
  file.reset();
  EXPECT_LT(ReadAll(path).size(), bytes.size() + (1u << 20));
  ExpectListing(path, {Line("Big", Pattern(100, 4)), Line("Other", Pattern(8u << 20, 5)),
                       Line("Small", Pattern(500, 3))});
  // A FAT sector named beyond the end reads while unused, but no update may append a stream over it.
  const std::string forgedPath = dir.File("forged.cfs");
  ASSERT_EQ(cfb::CompoundFile::Create(forgedPath, ReadWriteExclusive(), false, 3, file), S_OK);
  ASSERT_EQ(file->WriteStream(u"Small", Pattern(300, 1)), S_OK);
  file.reset();
  std::vector<uint8_t> forged = ReadAll(forgedPath);
  const uint32_t sectors = static_cast<uint32_t>(forged.size() / 512 - 1);
  cfb::Store32(forged.data() + cfb::kHeaderNumFatSectors, 2);
  cfb::Store32(forged.data() + cfb::kHeaderDifat + 4, sectors);  // the next sector to be appended
  WriteAll(forgedPath, forged);
  std::vector<std::string> before;
  ASSERT_EQ(EngineListing(forgedPath, before), S_OK);
  ASSERT_EQ(cfb::CompoundFile::Open(forgedPath, ReadWriteExclusive(), file), S_OK);
  EXPECT_EQ(file->WriteStream(u"Added", Pattern(5000, 2)), STG_E_DOCFILECORRUPT);
  EXPECT_EQ(file->WriteStream(u"Small", Pattern(300, 3)), STG_E_DOCFILECORRUPT);
  file.reset();
  EXPECT_EQ(ReadAll(forgedPath), forged);
}

// A set written back whole again and again, behind a stream that fills the first FAT sectors: each
// write frees the previous copy, near the end of the file, and the next must reuse it, not append.
TEST(CfbWrite, AStreamRewrittenAgainAndAgainSettlesInTheSpaceItFrees) {
  TempDir dir;
  const std::string path = dir.File("rewritten.cfs");
  std::shared_ptr<cfb::CompoundFile> file;
  ASSERT_EQ(cfb::CompoundFile::Create(path, ReadWriteExclusive(), false, 3, file), S_OK);
  ASSERT_EQ(file->WriteStream(u"Head", Pattern(600 * 512, 1)), S_OK);
  size_t settled = 0;
  for (uint8_t round = 0; round < 30; ++round) {
    ASSERT_EQ(file->WriteStream(u"Set", Pattern(33 << 10, round)), S_OK);
    if (round == 3) settled = ReadAll(path).size();
  }
  file.reset();
  EXPECT_EQ(ReadAll(path).size(), settled);
  ExpectListing(path, {Line("Head", Pattern(600 * 512, 1)), Line("Set", Pattern(33 << 10, 29))});
}

TEST(CfbWrite, StorageFlagsAndCreation) {
  TempDir dir;
  const std::wstring path = settings_test::Wide(dir.File("flags.cfs"));
  IStorage* storage = nullptr;
  const DWORD rw = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  EXPECT_EQ(StgCreateDocfile(path.c_str(), STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &storage), STG_E_INVALIDFLAG);
  EXPECT_EQ(StgCreateDocfile(path.c_str(), STGM_READWRITE | 0x70, 0, &storage), STG_E_INVALIDFLAG);
  EXPECT_EQ(StgCreateDocfile(path.c_str(), rw, 1, &storage), STG_E_INVALIDPARAMETER);
  EXPECT_EQ(StgCreateDocfile(path.c_str(), rw, 0, nullptr), STG_E_INVALIDPOINTER);
  ASSERT_EQ(StgCreateDocfile(path.c_str(), rw, 0, &storage), S_OK);
  EXPECT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  IDirectWriterLock* lock = nullptr;
  EXPECT_EQ(storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)), E_NOINTERFACE);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(storage->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(storage->Release(), 0u);
  IStorage* again = nullptr;
  EXPECT_EQ(StgCreateDocfile(path.c_str(), rw, 0, &again), STG_E_FILEALREADYEXISTS);
  ASSERT_EQ(StgCreateDocfile(path.c_str(), STGM_CREATE | rw, 0, &again), S_OK);
  again->Release();
  for (DWORD bad : {DWORD(STGM_CREATE | STGM_READ), DWORD(rw | STGM_TRANSACTED),
                    DWORD(STGM_READWRITE | STGM_SHARE_DENY_NONE), DWORD(3)})
    EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, bad, nullptr, 0, &again), STG_E_INVALIDFLAG) << bad;
  EXPECT_EQ(StgOpenStorage(nullptr, nullptr, STGM_READ, nullptr, 0, &again), STG_E_INVALIDNAME);
  // Version 4 through the internal entry point; read-only storages refuse writes.
  const std::wstring v4 = path + L"4";
  ASSERT_EQ(cfb::CreateDocfile(v4.c_str(), rw, 4, &storage), S_OK);
  storage->Release();
  ASSERT_EQ(StgOpenStorage(v4.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &storage), S_OK);
  auto engine = cfb::CompoundFileOf(storage);
  ASSERT_TRUE(engine && !engine->CanWrite());
  EXPECT_EQ(engine->WriteStream(u"x", {1}), STG_E_ACCESSDENIED);
  storage->Release();
}

}  // namespace
