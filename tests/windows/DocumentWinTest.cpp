// The document path over ole32's structured storage, on files: the typed
// property set of a compound document and the straggler check, with the
// tracked sample document.
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <filesystem>

#include "DocfileProperties.h"
#include "FileStore.h"
#include "Properties.h"
#include "SettingsTestSupport.h"
#include "SimpleModeStorage.h"
#include "StragglerDetector.h"
#include "WinTestSupport.h"

using boost::posix_time::time_from_string;
using quorvane::DocfileProperties;
using settings_test::TempFolder;

namespace {

const DWORD kWriteMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;

std::wstring SourceFile(const char* relative) {
  const char* source = std::getenv("QV_SOURCE_DIR");
  return qvtest::Wide(std::string(source ? source : "..\\..\\..") + "\\" + relative);
}

IStorage* Open(const std::wstring& path, DWORD mode) {
  IStorage* storage = nullptr;
  const HRESULT hr = StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, &storage);
  EXPECT_EQ(S_OK, hr) << std::hex << hr;
  return storage;
}

class DocumentWin : public ::testing::Test {
 protected:
  std::wstring Path(const char* name) const { return qvtest::Wide(folder_.Path() + "\\" + name); }
  TempFolder folder_;
};

TEST_F(DocumentWin, PropertiesWrittenThroughOle32ReadBackAfterReopening) {
  const std::wstring path = Path("new.doc");
  IStorage* created = nullptr;
  ASSERT_EQ(S_OK, StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &created));
  {
    DocfileProperties document(qvtest::ForWine(created));
    document.SetProperty(L"1", L"Title");
    document.SetProperty(L"7", L"Last Author");
    document.SetDateProperty(L"12", time_from_string("2004-03-05 07:08:09.123"));
    document.SetProperty(L"Client", L"Acme \u00e9");
    document.SetDateProperty(L"Due", time_from_string("2024-02-29 23:59:59"));
    document.SetProperty(L"Gone", L"x");
    document.RemoveProperty(L"Gone");
  }
  DocfileProperties reopened(qvtest::ForWine(Open(path, STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ)));
  EXPECT_EQ(L"Title", *reopened.GetProperty(L"1"));
  EXPECT_EQ(L"Last Author", *reopened.GetProperty(L"7"));
  EXPECT_EQ(time_from_string("2004-03-05 07:08:09.123"), reopened.GetDateProperty(L"12"));
  EXPECT_EQ(L"Acme \u00e9", *reopened.GetProperty(L"Client"));
  EXPECT_EQ(time_from_string("2024-02-29 23:59:59"), reopened.GetDateProperty(L"Due"));
  EXPECT_THROW(reopened.SetProperty(L"Client", L"y"), std::exception) << "opened for reading";
  QV_SKIP_ON_WINE("Wine's IEnumSTATPROPSTG hands out the names of an ANSI set as its narrow bytes, not UTF-16");
  EXPECT_EQ((std::vector<std::wstring>{L"Client", L"Due"}), *reopened.GetPropertyNames());
}

// A tracked copy of the sample: untouched it is no straggler; saved outside
// the client (a new last author) it gets a new version and fresh marks.
TEST_F(DocumentWin, StragglerCheckOnTheTrackedSample) {
  QV_SKIP_ON_WINE("Wine's IPropertySetStorage::Open refuses STGM_SIMPLE (STG_E_INVALIDFLAG), and CheckStraggler "
                  "opens the document itself");
  const std::wstring path = Path("report.doc");
  ASSERT_TRUE(CopyFileW(SourceFile("samples\\quarterly-report.doc").c_str(), path.c_str(), FALSE));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  auto record = [&] {
    DocfileProperties document(qvtest::ForWine(Open(path, STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ)));
    quorvane::Properties snapshot(document);
    quorvane::FileStore store(snapshot);
    return std::make_pair(store.GetVersionId(), store.GetSequenceNumber());
  };
  const auto before = record();
  ASSERT_EQ(S_OK, quorvane::CheckStraggler(path.c_str(), nullptr));
  EXPECT_EQ(before, record()) << "the marks match: nothing recorded";

  {
    DocfileProperties document(qvtest::ForWine(Open(path, kWriteMode)));
    document.SetProperty(L"7", L"Someone Else");
  }
  ASSERT_EQ(S_OK, quorvane::CheckStraggler(path.c_str(), nullptr));
  const auto after = record();
  EXPECT_NE(before.first, after.first) << "a new version id";
  EXPECT_EQ(before.second + 1, after.second);
  ASSERT_EQ(S_OK, quorvane::CheckStraggler(path.c_str(), nullptr));
  EXPECT_EQ(after, record()) << "the fresh marks match";
}

TEST_F(DocumentWin, ANonDocumentIsRefusedWithTheStorageError) {
  const std::wstring path = Path("plain.doc");
  settings_test::WriteBytes(qvtest::Utf8(path), "not a compound file");
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, quorvane::CheckStraggler(path.c_str(), nullptr));
  EXPECT_EQ(S_OK, quorvane::CheckStraggler(Path("other.txt").c_str(), nullptr)) << "not an office name";
}

}  // namespace
