// Refused writes to a document's user-defined set change nothing.
#include <gtest/gtest.h>

#include "CfbTestSupport.h"
#include "posix/storage/props/PropertySetFormat.h"

namespace {

using namespace cfbtest;

TEST(PropsWriteLimit, AnOverflowingWriteOrABadBatchIsRefusedAndTheFileStaysByteForByte) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  const std::string megabyte(1 << 20, 'x'), kilobytes(4096, 'k');
  const struct {
    const char* what;
    size_t filler;  // properties of 4 KB committed before the refused write
    std::wstring name;
    std::string text;
  } cases[] = {{"one 1 MB value beside a change", 0, L"Big", megabyte},
               {"the set grown to the limit, then one more", 64, L"OneTooMany", kilobytes}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      UserSet user;
      ASSERT_EQ(S_OK, user.Open(path));
      for (size_t i = 0; i < c.filler; ++i) {
        const HRESULT hr = user.Write({L"Filler" + std::to_wstring(i)}, {kilobytes});
        if (hr == STG_E_MEDIUMFULL) break;
        ASSERT_EQ(S_OK, hr);
      }
      ASSERT_EQ(S_OK, user.Commit());
    }
    const size_t size = FixtureStream(path, u"\005DocumentSummaryInformation").size();
    EXPECT_LE(size, quorvane::posix::oleps::kMaxStreamSize);
    if (c.filler > 0) EXPECT_GT(size + kilobytes.size() + 64, quorvane::posix::oleps::kMaxStreamSize) << "filled";
    const std::vector<uint8_t> before = ReadAll(path);
    {
      UserSet user;
      ASSERT_EQ(S_OK, user.Open(path));
      EXPECT_EQ(STG_E_MEDIUMFULL, user.Write({L"prop1", c.name}, {"changed", c.text}));
      EXPECT_EQ("aaa|<absent>", user.Read(L"prop1") + "|" + user.Read(c.name)) << "the whole batch is refused";
      EXPECT_EQ(S_OK, user.Commit());
    }
    EXPECT_TRUE(ReadAll(path) == before);
  }
  ASSERT_EQ(path, CopyFixture("2custom.doc", dir));  // afresh: a batch with a bad entry leaves the set as it was
  const std::vector<uint8_t> before = ReadAll(path);
  {
    UserSet user;
    ASSERT_EQ(S_OK, user.Open(path));
    // A new name, a replaced value, a deletion; then an empty name, which Windows refuses.
    PROPSPEC specs[] = {qvtest::Named(L"Fresh"), qvtest::Named(L"prop1"), qvtest::Named(L"prop2"), qvtest::Named(L"")};
    PROPVARIANT values[] = {qvtest::Text("new"), qvtest::Text("changed"), PROPVARIANT(), qvtest::Text("x")};
    EXPECT_EQ(STG_E_INVALIDPARAMETER, user.set->WriteMultiple(4, specs, values, 4096));
    EXPECT_EQ("<absent>|aaa|bbbb", user.Read(L"Fresh") + "|" + user.Read(L"prop1") + "|" + user.Read(L"prop2"));
    EXPECT_EQ(S_OK, user.Commit());
  }
  EXPECT_TRUE(ReadAll(path) == before);
  // The id the refused batch took for "Fresh" is free again.
  UserSet user;
  std::map<std::wstring, PROPID> ids;
  ASSERT_EQ(S_OK, user.Open(path));
  ASSERT_EQ(S_OK, user.Write({L"Fresh", L"Later"}, {"1", "2"}));
  ASSERT_EQ(S_OK, user.Ids(ids));
  std::set<PROPID> others;
  for (const auto& [name, id] : ids)
    if (name != L"Fresh" && name != L"Later") others.insert(id);
  PROPID lowest = 4096;
  while (others.count(lowest)) ++lowest;
  EXPECT_EQ(lowest, ids[L"Fresh"]);
}

}  // namespace
