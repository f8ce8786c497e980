// The document path's storage layer (native/jni/PropertyStorage, no JVM
// needed) over ole32: how documents open for reading and writing, and the
// HRESULTs that reach Java when they cannot.
#include <gtest/gtest.h>

#include "OnWine.h"
#include "PropertyStorage.h"
#include "SettingsTestSupport.h"
#include "WinTestSupport.h"

using quorvane::jni::DocumentStorage;
using quorvane::jni::PropertySet;
using quorvane::jni::ReadDocumentMode;
using quorvane::jni::WriteDocumentMode;

namespace {

class DocumentStorageWin : public ::testing::Test {
 protected:
  DocumentStorageWin() : path_(qvtest::Wide(folder_.Path() + "\\doc.doc")) {
    IStorage* created = nullptr;
    EXPECT_EQ(S_OK, StgCreateDocfile(path_.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &created));
    if (created) created->Release();
  }
  HRESULT Failure(const std::wstring& path, DWORD mode) {
    try {
      DocumentStorage document(path.c_str(), mode);
    } catch (const quorvane::jni::HResultException& e) {
      return e.hr();
    }
    return S_OK;
  }

  settings_test::TempFolder folder_;
  std::wstring path_;
};

TEST_F(DocumentStorageWin, ReadingOpensTheSetsAndAMissingSetAnswersOne) {
  DocumentStorage document(path_.c_str(), ReadDocumentMode);
  EXPECT_NE(nullptr, document.PropertySetStorage());
  try {
    PropertySet set(document, false, FMTID_UserDefinedProperties);
    ADD_FAILURE() << "a set the document does not have";
  } catch (const quorvane::jni::HResultException& e) {
    EXPECT_EQ(1, e.hr());
  }
}

TEST_F(DocumentStorageWin, FilesThatAreNoDocumentsAnswerTheStorageError) {
  EXPECT_EQ(STG_E_FILENOTFOUND, Failure(qvtest::Wide(folder_.Path() + "\\missing.doc"), ReadDocumentMode));
  settings_test::WriteBytes(folder_.Path() + "\\plain.doc", "not a compound file");
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, Failure(qvtest::Wide(folder_.Path() + "\\plain.doc"), ReadDocumentMode));
}

TEST_F(DocumentStorageWin, WritingTakesTheWriterLock) {
  const HRESULT hr = Failure(path_, WriteDocumentMode);
  if (hr == E_NOTIMPL) QV_SKIP_ON_WINE("Wine's IDirectWriterLock answers E_NOTIMPL (WaitForWriteAccess)");
  ASSERT_EQ(S_OK, hr);
  DocumentStorage document(path_.c_str(), WriteDocumentMode);
  EXPECT_EQ(STG_E_SHAREVIOLATION, Failure(path_, WriteDocumentMode)) << "a second writer is shut out";
}

}  // namespace
