// Property sets through the compound-file engine: StgOpenStorage, then
// IPropertySetStorage from the storage, on copies of the fixtures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "PropsFixtureReader.h"
#include "Win32Api.h"

namespace {

std::string CopyFixture(const std::string& file) {
  char dir[] = "/tmp/qv-props-XXXXXX";
  EXPECT_NE(nullptr, mkdtemp(dir));
  const std::string path = std::string(dir) + "/" + file;
  const std::vector<uint8_t> bytes = propstest::ReadFile(propstest::FixtureDir() + "/" + file);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

TEST(PropsEndToEnd, UserPropertiesOfARealDocumentAreWrittenInPlaceAndReadBack) {
  const std::string path = CopyFixture("2custom.doc");
  propstest::FixtureReader before(path);
  std::vector<uint8_t> wordBefore, summaryBefore;
  ASSERT_TRUE(before.Stream(u"WordDocument", wordBefore));
  ASSERT_TRUE(before.Stream(u"\005SummaryInformation", summaryBefore));

  IStorage* storage = nullptr;
  ASSERT_EQ(S_OK, StgOpenStorage(Wide(path).c_str(), nullptr, STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE,
                                 nullptr, 0, &storage));
  IDirectWriterLock* lock = nullptr;
  ASSERT_EQ(S_OK, storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)));
  ASSERT_EQ(S_OK, lock->WaitForWriteAccess(5000));
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(S_OK, storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)));
  IPropertyStorage* user = nullptr;
  ASSERT_EQ(S_OK, sets->Open(FMTID_UserDefinedProperties, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &user));
  PROPSPEC spec;
  spec.ulKind = PRSPEC_LPWSTR;
  spec.lpwstr = const_cast<wchar_t*>(L"PROP1");
  PROPVARIANT value;
  ASSERT_EQ(S_OK, user->ReadMultiple(1, &spec, &value));
  EXPECT_STREQ("aaa", value.pszVal);
  PropVariantClear(&value);
  spec.lpwstr = const_cast<wchar_t*>(L"prop3");
  std::memset(&value, 0, sizeof value);
  value.vt = VT_LPSTR;
  value.pszVal = const_cast<char*>("ccc");
  ASSERT_EQ(S_OK, user->WriteMultiple(1, &spec, &value, 4096));
  ASSERT_EQ(S_OK, user->Commit(STGC_DEFAULT));
  ASSERT_EQ(S_OK, storage->Commit(STGC_DEFAULT));
  EXPECT_EQ(0u, user->Release());
  sets->Release();
  lock->ReleaseWriteAccess();
  lock->Release();
  EXPECT_EQ(0u, storage->Release());

  ASSERT_EQ(S_OK, StgOpenStorage(Wide(path).c_str(), nullptr, STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ,
                                 nullptr, 0, &storage));
  ASSERT_EQ(S_OK, storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)));
  ASSERT_EQ(S_OK, sets->Open(FMTID_UserDefinedProperties, STGM_SHARE_EXCLUSIVE, &user));
  ASSERT_EQ(S_OK, user->ReadMultiple(1, &spec, &value));
  EXPECT_STREQ("ccc", value.pszVal);
  PropVariantClear(&value);
  EXPECT_EQ(STG_E_ACCESSDENIED, user->WriteMultiple(1, &spec, &value, 4096));
  user->Release();
  sets->Release();
  storage->Release();

  propstest::FixtureReader after(path);
  std::vector<uint8_t> wordAfter, summaryAfter;
  ASSERT_TRUE(after.Stream(u"WordDocument", wordAfter));
  ASSERT_TRUE(after.Stream(u"\005SummaryInformation", summaryAfter));
  EXPECT_EQ(wordBefore, wordAfter);
  EXPECT_EQ(summaryBefore, summaryAfter);
  unlink(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}
