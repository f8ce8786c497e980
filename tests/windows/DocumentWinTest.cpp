// The document path over ole32 on files, and the HRESULTs its storage layer hands to Java (no JVM needed).
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "DocfileProperties.h"
#include "PropertyStorage.h"
#include "SettingsTestSupport.h"
#include "SimpleModeStorage.h"  // and OnWine.h

using boost::posix_time::time_from_string;
using quorvane::DocfileProperties;
using quorvane::jni::DocumentStorage;

namespace {

class DocumentWin : public ::testing::Test {
 protected:
  DocumentWin() {
    IStorage* created = nullptr;
    EXPECT_EQ(S_OK, StgCreateDocfile(path_.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &created));
    if (created) created->Release();
  }
  // What opening `path` for reading (and with `set`, that set) throws; S_OK when it opens.
  static HRESULT Failure(const std::wstring& path, const FMTID* set = nullptr) {
    try {
      DocumentStorage document(path.c_str(), quorvane::jni::ReadDocumentMode);
      if (set) quorvane::jni::PropertySet{document, false, *set};
    } catch (const quorvane::jni::HResultException& e) {
      return e.hr();
    }
    return S_OK;
  }
  std::wstring Path(const char* name) const { return settings_test::Wide(folder_.Path() + "\\" + name); }

  settings_test::TempFolder folder_;
  const std::wstring path_ = Path("doc.doc");
};

TEST_F(DocumentWin, PropertiesWrittenThroughOle32ReadBackAfterReopening) {
  IStorage* storage = nullptr;
  ASSERT_EQ(S_OK, StgOpenStorage(path_.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &storage));
  {
    DocfileProperties document(qvtest::ForWine(storage));
    document.SetProperty(L"7", L"Last Author");
    document.SetDateProperty(L"12", time_from_string("2004-03-05 07:08:09.123"));
    document.SetProperty(L"Client", L"Acme \u00e9");
    document.SetDateProperty(L"Due", time_from_string("2024-02-29 23:59:59"));
    document.SetProperty(L"Gone", L"x");
    document.RemoveProperty(L"Gone");
  }
  ASSERT_EQ(S_OK, StgOpenStorage(path_.c_str(), nullptr, quorvane::jni::ReadDocumentMode, nullptr, 0, &storage));
  DocfileProperties reopened(qvtest::ForWine(storage));
  EXPECT_EQ(L"Last Author | Acme \u00e9", *reopened.GetProperty(L"7") + L" | " + *reopened.GetProperty(L"Client"));
  EXPECT_EQ((std::vector{time_from_string("2004-03-05 07:08:09.123"), time_from_string("2024-02-29 23:59:59")}),
            (std::vector{reopened.GetDateProperty(L"12"), reopened.GetDateProperty(L"Due")}));
  EXPECT_THROW(reopened.SetProperty(L"Client", L"y"), std::exception) << "opened for reading";
  QV_SKIP_ON_WINE("Wine's IEnumSTATPROPSTG hands out the names of an ANSI set as its narrow bytes, not UTF-16");
  EXPECT_EQ((std::vector<std::wstring>{L"Client", L"Due"}), *reopened.GetPropertyNames());
}

TEST_F(DocumentWin, StorageLayerAnswersOneForAMissingSetAndTheStorageErrorForNonDocuments) {
  EXPECT_EQ(1, Failure(path_, &FMTID_UserDefinedProperties)) << "a set the document does not have";
  EXPECT_EQ(STG_E_FILENOTFOUND, Failure(Path("missing.doc")));
  settings_test::WriteBytes(folder_.Path() + "\\plain.doc", "not a compound file");
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, Failure(Path("plain.doc")));
}

}  // namespace
