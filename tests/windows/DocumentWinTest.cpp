// The document path over ole32 on files (no JVM needed); the HRESULTs its storage layer hands to Java are
// checked through the DLL (ExportedDocumentMethodsWinTest.cpp).
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "DocfileProperties.h"
#include "PropertyStorage.h"
#include "SettingsTestSupport.h"
#include "SimpleModeStorage.h"  // and OnWine.h

using boost::posix_time::time_from_string;
using quorvane::DocfileProperties;

namespace {

TEST(DocumentWin, PropertiesWrittenThroughOle32ReadBackAfterReopening) {
  settings_test::TempFolder folder;
  const std::wstring path = settings_test::Wide(folder.Path() + "\\doc.doc");
  IStorage* storage = nullptr;
  ASSERT_EQ(S_OK, StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage));
  {
    DocfileProperties document(qvtest::ForWine(storage));
    document.SetProperty(L"7", L"Last Author");
    document.SetDateProperty(L"12", time_from_string("2004-03-05 07:08:09.123"));
    document.SetProperty(L"Client", L"Acme \u00e9");
    document.SetDateProperty(L"Due", time_from_string("2024-02-29 23:59:59"));
    document.SetProperty(L"Gone", L"x");
    document.RemoveProperty(L"Gone");
  }
  ASSERT_EQ(S_OK, StgOpenStorage(path.c_str(), nullptr, quorvane::jni::ReadDocumentMode, nullptr, 0, &storage));
  DocfileProperties reopened(qvtest::ForWine(storage));
  EXPECT_EQ(L"Last Author | Acme \u00e9", *reopened.GetProperty(L"7") + L" | " + *reopened.GetProperty(L"Client"));
  EXPECT_EQ((std::vector{time_from_string("2004-03-05 07:08:09.123"), time_from_string("2024-02-29 23:59:59")}),
            (std::vector{reopened.GetDateProperty(L"12"), reopened.GetDateProperty(L"Due")}));
  EXPECT_THROW(reopened.SetProperty(L"Client", L"y"), std::exception) << "opened for reading";
  QV_SKIP_ON_WINE("Wine's IEnumSTATPROPSTG hands out the names of an ANSI set as its narrow bytes, not UTF-16");
  EXPECT_EQ((std::vector<std::wstring>{L"Client", L"Due"}), *reopened.GetPropertyNames());
}

}  // namespace
