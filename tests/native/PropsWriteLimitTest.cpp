// Writes to a document's user-defined set that must change nothing when they
// fail (those that would grow the property-set stream past its limit, and
// batches with a bad entry after good ones), and a set kept between opens that
// must not outlive another writer's change. Over real compound files.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "CfbTestSupport.h"
#include "PropertyTestSets.h"
#include "Win32Api.h"
#include "posix/storage/cfb/CompoundFile.h"
#include "posix/storage/props/PropertySetFormat.h"

namespace {

using cfbtest::CopyFixture;
using cfbtest::ReadAll;
using cfbtest::TempDir;
using qvtest::Named;
using qvtest::Text;

const DWORD kWriteMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;

// The document opened as setCompoundDocumentUserProperties opens it, with its
// user-defined set open for writing.
struct UserSet {
  IStorage* storage = nullptr;
  IPropertySetStorage* sets = nullptr;
  IPropertyStorage* set = nullptr;
  explicit UserSet(const std::string& path) {
    const std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(S_OK, StgOpenStorage(wide.c_str(), nullptr, kWriteMode, nullptr, 0, &storage));
    EXPECT_EQ(S_OK, storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)));
    EXPECT_EQ(S_OK, sets->Open(FMTID_UserDefinedProperties, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  }
  ~UserSet() {
    if (set) set->Release();
    if (sets) sets->Release();
    if (storage) storage->Release();
  }
  HRESULT Write(const std::vector<std::wstring>& names, const std::vector<std::string>& texts) {
    std::vector<PROPSPEC> specs;
    std::vector<PROPVARIANT> values;
    for (size_t i = 0; i < names.size(); ++i) {
      specs.push_back(Named(names[i].c_str()));
      values.push_back(Text(texts[i].c_str()));
    }
    return set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), values.data(), 4096);
  }
  std::string Read(const wchar_t* name) {
    const PROPSPEC spec = Named(name);
    PROPVARIANT v;
    const HRESULT hr = set->ReadMultiple(1, &spec, &v);
    const std::string out = hr == S_OK && v.vt == VT_LPSTR && v.pszVal ? v.pszVal : "<absent>";
    PropVariantClear(&v);
    return out;
  }
  HRESULT Commit() { return set->Commit(STGC_DEFAULT); }
};

size_t StreamSize(const std::string& path) {
  namespace cfb = quorvane::posix::cfb;
  std::shared_ptr<cfb::CompoundFile> file;
  std::vector<uint8_t> bytes;
  EXPECT_EQ(S_OK, cfb::CompoundFile::Open(path, cfb::ShareMode(), file));
  EXPECT_EQ(S_OK, file->ReadStream(u"\005DocumentSummaryInformation", bytes));
  return bytes.size();
}

}  // namespace

TEST(PropsWriteLimit, AWriteThatWouldOverflowTheStreamIsRefusedAndTheFileStaysByteForByte) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  const std::string megabyte(1 << 20, 'x');
  const std::string kilobytes(4096, 'k');
  struct Case {
    const char* what;
    size_t filler;  // properties of 4 KB accepted and committed before the refused write
    std::vector<std::wstring> names;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"one 1 MB value beside a change", 0, {L"prop1", L"Big"}, {"changed", megabyte}},
      {"the set grown to the limit, then one more", 64, {L"prop1", L"OneTooMany"}, {"changed", kilobytes}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      UserSet user(path);
      for (size_t i = 0; i < c.filler; ++i) {
        const std::wstring name = L"Filler" + std::to_wstring(i);
        const HRESULT hr = user.Write({name}, {kilobytes});
        if (hr == STG_E_MEDIUMFULL) break;
        ASSERT_EQ(S_OK, hr);
      }
      ASSERT_EQ(S_OK, user.Commit());
    }
    const size_t size = StreamSize(path);
    EXPECT_LE(size, quorvane::posix::oleps::kMaxStreamSize);
    if (c.filler > 0) EXPECT_GT(size + kilobytes.size() + 64, quorvane::posix::oleps::kMaxStreamSize) << "filled";
    const std::vector<uint8_t> before = ReadAll(path);
    {
      UserSet user(path);
      EXPECT_EQ(STG_E_MEDIUMFULL, user.Write(c.names, c.texts));
      EXPECT_EQ("aaa", user.Read(L"prop1")) << "the whole batch is refused";
      EXPECT_EQ("<absent>", user.Read(c.names[1].c_str()));
      EXPECT_EQ(S_OK, user.Commit());
    }
    EXPECT_TRUE(ReadAll(path) == before);
  }
}

TEST(PropsWriteLimit, ABatchWithABadEntryLeavesTheSetAsItWas) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  const std::vector<uint8_t> before = ReadAll(path);
  {
    UserSet user(path);
    // Good entries of every kind of change first: a new name, a replaced
    // value, a deletion; then an empty name, which Windows refuses.
    PROPSPEC specs[] = {Named(L"Fresh"), Named(L"prop1"), Named(L"prop2"), Named(L"")};
    PROPVARIANT values[] = {Text("new"), Text("changed"), PROPVARIANT(), Text("x")};
    EXPECT_EQ(STG_E_INVALIDPARAMETER, user.set->WriteMultiple(4, specs, values, 4096));
    EXPECT_EQ("<absent>", user.Read(L"Fresh"));
    EXPECT_EQ("aaa", user.Read(L"prop1"));
    EXPECT_EQ("bbbb", user.Read(L"prop2"));
    EXPECT_EQ(S_OK, user.Commit());
  }
  EXPECT_TRUE(ReadAll(path) == before);
  {
    // The id the refused batch took for "Fresh" is free again.
    UserSet user(path);
    ASSERT_EQ(S_OK, user.Write({L"Fresh", L"Later"}, {"1", "2"}));
    IEnumSTATPROPSTG* entries = nullptr;
    ASSERT_EQ(S_OK, user.set->Enum(&entries));
    STATPROPSTG entry;
    std::set<PROPID> others;
    PROPID fresh = 0;
    while (entries->Next(1, &entry, nullptr) == S_OK) {
      if (entry.lpwstrName && std::wstring(entry.lpwstrName) == L"Fresh")
        fresh = entry.propid;
      else if (!entry.lpwstrName || std::wstring(entry.lpwstrName) != L"Later")
        others.insert(entry.propid);
      CoTaskMemFree(entry.lpwstrName);
    }
    entries->Release();
    PROPID lowest = 4096;
    while (others.count(lowest)) ++lowest;
    EXPECT_EQ(lowest, fresh);
  }
}

// Parsed sets are kept between opens only while no other writer can reach the
// file: SWMR writers take turns, and a turn may change the set.
TEST(PropsWriteLimit, ASetOpenedAgainAfterAnotherWritersTurnShowsThatWritersChange) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  UserSet first(path);
  IDirectWriterLock* lock = nullptr;
  ASSERT_EQ(S_OK, first.storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)));
  ASSERT_EQ(S_OK, lock->WaitForWriteAccess(0));
  auto reopen = [&] {
    first.set->Release();
    first.set = nullptr;
    return first.sets->Open(FMTID_UserDefinedProperties, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &first.set);
  };
  ASSERT_EQ(S_OK, reopen());  // read and kept during this writer's turn
  EXPECT_EQ("aaa", first.Read(L"prop1"));
  ASSERT_EQ(S_OK, lock->ReleaseWriteAccess());
  {
    UserSet second(path);
    IDirectWriterLock* other = nullptr;
    ASSERT_EQ(S_OK, second.storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&other)));
    ASSERT_EQ(S_OK, other->WaitForWriteAccess(0));
    ASSERT_EQ(S_OK, second.Write({L"prop1"}, {"second"}));
    ASSERT_EQ(S_OK, second.Commit());
    other->ReleaseWriteAccess();
    other->Release();
  }
  ASSERT_EQ(S_OK, lock->WaitForWriteAccess(0));
  ASSERT_EQ(S_OK, reopen());
  EXPECT_EQ("second", first.Read(L"prop1"));
  lock->ReleaseWriteAccess();
  lock->Release();
}
