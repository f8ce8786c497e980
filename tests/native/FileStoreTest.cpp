#include <gtest/gtest.h>

#include <functional>

#include "FileStore.h"
#include "NarrowText.h"
#include "PropertyTestSets.h"

using quorvane::FileStore;
using namespace qvtest;

namespace {

// An in-memory set holding ExtendedVersionId E and the given per-version fields.
quorvane::Properties RecordWith(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> fields) {
  quorvane::Properties set = EmptySet();
  set.SetProperty(L"Quorvane ExtendedVersionId", L"E");
  for (const auto& field : fields) set.SetProperty(std::wstring(L"Quorvane ") + field.first + L".E", field.second);
  return set;
}

std::string Failure(std::function<void()> f) { return Thrown<std::runtime_error>(f); }

}  // namespace

TEST(FileStoreFields, EveryPerVersionAccessorNeedsARecord) {
  quorvane::Properties set = EmptySet();
  FileStore store(set);
  EXPECT_FALSE(store.IsTracked());
  EXPECT_FALSE(store.IsUntracked());
  EXPECT_FALSE(store.GetExtendedVersionId());
  const std::vector<std::function<void()>> accessors = {
      [&] { store.GetDocumentId(); },          [&] { store.GetVersionId(); },
      [&] { store.SetVersionId(L"v"); },       [&] { store.GetAuthorId(); },
      [&] { store.SetAuthorId(L"a"); },        [&] { store.GetMasterDocumentId(); },
      [&] { store.GetMetadataVersion(); },     [&] { store.SetMetadataVersion(1.2f); },
      [&] { store.GetSequenceNumber(); },      [&] { store.SetSequenceNumber(1); },
      [&] { store.GetUnratifiedVersionIdsSize(); }, [&] { store.GetContributorsSize(); },
      [&] { store.GetUnratifiedVersionIds(); }, [&] { store.GetContributors(); },
      [&] { store.AddUnratifiedVersionId(L"u"); }, [&] { store.AddContributors({L"c"}); }};
  for (size_t i = 0; i < accessors.size(); ++i) {
    const std::string message = Failure(accessors[i]);
    EXPECT_TRUE(EndsWith(message, " - runtime_error : extendedVersionId")) << i << ": " << message;
  }
  EXPECT_TRUE(set.GetPropertyNames()->empty());  // nothing was written

  set.SetProperty(L"Quorvane ExtendedVersionId", L"");
  EXPECT_TRUE(EndsWith(Failure([&] { store.IsTracked(); }), " - runtime_error : !result || !result->empty()"));
}

TEST(FileStoreFields, TextFieldsRequireValuesWhereTheRecordNeedsThem) {
  quorvane::Properties set = RecordWith({{L"DocumentId", L""}, {L"VersionId", L"v1"}});
  FileStore store(set);
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetDocumentId(); }), " - runtime_error : documentId && !documentId->empty()"));
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetMasterDocumentId(); }),
                       " - runtime_error : masterDocumentId && !masterDocumentId->empty()"));
  EXPECT_EQ(L"v1", store.GetVersionId());
  set.RemoveProperty(L"Quorvane VersionId.E");
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetVersionId(); }), " - runtime_error : versionId && !versionId->empty()"));

  EXPECT_EQ(L"", store.GetAuthorId());
  store.SetAuthorId(L"");
  EXPECT_EQ(L"", Value(set, L"Quorvane AuthorId.E"));
  store.SetVersionId(L"v2");
  EXPECT_EQ(L"v2", Value(set, L"Quorvane VersionId.E"));

  // Argument checks come before the record is looked at.
  quorvane::Properties empty = EmptySet();
  FileStore noRecord(empty);
  EXPECT_TRUE(EndsWith(Failure([&] { noRecord.SetVersionId(L""); }), " - runtime_error : !versionId.empty()"));
  EXPECT_TRUE(EndsWith(Failure([&] { noRecord.SetMetadataVersion(0.5f); }), " - runtime_error : metadataVersion >= 1.0f"));
  EXPECT_TRUE(EndsWith(Failure([&] { noRecord.SetSequenceNumber(-1); }), " - runtime_error : sequenceNumber >= 0"));
}

TEST(FileStoreFields, MetadataVersionDecidesWhetherTheSetIsTracked) {
  struct Case { const wchar_t* text; bool tracked; };
  for (const Case& c : {Case{L"1.2", true}, Case{L"2", true}, Case{L"1.2 ", true}, Case{L"1.0", false},
                        Case{L"1.1999", false}, Case{L"nan", false}}) {
    quorvane::Properties set = RecordWith({{L"MetadataVersion", c.text}});
    EXPECT_EQ(c.tracked, FileStore(set).IsTracked()) << quorvane::ToNarrow(c.text);
  }
  quorvane::Properties absent = RecordWith({});
  EXPECT_EQ(1.0f, FileStore(absent).GetMetadataVersion());
  EXPECT_FALSE(FileStore(absent).IsTracked());

  quorvane::Properties bad = RecordWith({{L"MetadataVersion", L" 1.2"}});
  EXPECT_TRUE(EndsWith(Failure([&] { FileStore(bad).IsTracked(); }),
                       " - bad_lexical_cast caused by 'lexical_cast<float>( 1.2)'"));
  bad.SetProperty(L"Quorvane MetadataVersion.E", L"");
  EXPECT_TRUE(EndsWith(Failure([&] { FileStore(bad).GetMetadataVersion(); }),
                       " - runtime_error : !metadataVersion || !metadataVersion->empty()"));

  FileStore store(absent);
  store.SetMetadataVersion(1.2f);
  EXPECT_EQ(L"1.2", Value(absent, L"Quorvane MetadataVersion.E"));
  EXPECT_EQ(quorvane::TrackingNames::Get().CurrentMetadataVersion, store.GetMetadataVersion());
  EXPECT_EQ(L"1.2", quorvane::FormatMetadataVersion(quorvane::TrackingNames::Get().CurrentMetadataVersion));
  EXPECT_EQ(L"2.5", quorvane::FormatMetadataVersion(2.5f));
  EXPECT_EQ(L"1", quorvane::FormatMetadataVersion(1.0f));
}

TEST(FileStoreFields, NumbersAreDigitsOnlyAndFitAnInt) {
  const std::string digitCheck =
      " - runtime_error : sequenceNumber && !sequenceNumber->empty() && boost::all(*sequenceNumber, boost::is_digit())";
  quorvane::Properties set = RecordWith({{L"SequenceNumber", L"007"}});
  FileStore store(set);
  EXPECT_EQ(7, store.GetSequenceNumber());
  for (const wchar_t* text : {L"-1", L" 7", L"7 ", L"7a", L"", L"+7"}) {
    set.SetProperty(L"Quorvane SequenceNumber.E", text);
    EXPECT_TRUE(EndsWith(Failure([&] { store.GetSequenceNumber(); }), digitCheck)) << quorvane::ToNarrow(text);
  }
  // A non-ASCII digit: the runtime's classification decides which check
  // refuses it (msvcrt counts U+0663 as a digit, glibc's C locale does not).
  set.SetProperty(L"Quorvane SequenceNumber.E", L"\u0663");
  const std::string arabicDigit = Failure([&] { store.GetSequenceNumber(); });
  EXPECT_TRUE(EndsWith(arabicDigit, digitCheck) || EndsWith(arabicDigit, "lexical_cast<int>(\xB6)'")) << arabicDigit;
  set.RemoveProperty(L"Quorvane SequenceNumber.E");
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetSequenceNumber(); }), digitCheck));
  set.SetProperty(L"Quorvane SequenceNumber.E", L"2147483648");
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetSequenceNumber(); }),
                       " - bad_lexical_cast caused by 'lexical_cast<int>(2147483648)'"));
  set.SetProperty(L"Quorvane SequenceNumber.E", L"2147483647");
  EXPECT_EQ(2147483647, store.GetSequenceNumber());
  store.SetSequenceNumber(0);
  EXPECT_EQ(L"0", Value(set, L"Quorvane SequenceNumber.E"));

  // The list counts: absent is 0, anything else must be digits.
  EXPECT_EQ(0, store.GetUnratifiedVersionIdsSize());
  EXPECT_EQ(0, store.GetContributorsSize());
  set.SetProperty(L"Quorvane UrVersionIdsSize.E", L"");
  set.SetProperty(L"Quorvane ContributorsSize.E", L"x3");
  const std::string countCheck = " - runtime_error : !number->empty() && boost::all(*number, boost::is_digit())";
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetUnratifiedVersionIdsSize(); }), countCheck));
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetContributorsSize(); }), countCheck));
  set.SetProperty(L"Quorvane ContributorsSize.E", L"99999999999");
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetContributorsSize(); }),
                       " - bad_lexical_cast caused by 'lexical_cast<int>(99999999999)'"));
  set.SetProperty(L"Quorvane UrVersionIdsSize.E", L"12");
  EXPECT_EQ(12, store.GetUnratifiedVersionIdsSize());
}

TEST(FileStoreFields, UntrackedFlagIsTrueInAnyCaseOrAnError) {
  quorvane::Properties set = EmptySet();
  FileStore store(set);
  set.SetProperty(L"Quorvane Untracked", L"TRUE");
  EXPECT_TRUE(store.IsUntracked());
  set.SetProperty(L"Quorvane Untracked", L"True");
  EXPECT_EQ(L"True", *store.GetUntracked());
  set.SetProperty(L"Quorvane Untracked", L"yes");
  const std::string check = " - runtime_error : !result || boost::iequals(*result, TrueString)";
  EXPECT_TRUE(EndsWith(Failure([&] { store.GetUntracked(); }), check));
  EXPECT_TRUE(EndsWith(Failure([&] { store.IsUntracked(); }), check));

  // A tracked record wins over the flag; an old-version record does not.
  quorvane::Properties tracked = RecordWith({{L"MetadataVersion", L"1.2"}});
  tracked.SetProperty(L"Quorvane Untracked", L"true");
  EXPECT_FALSE(FileStore(tracked).IsUntracked());
  tracked.SetProperty(L"Quorvane MetadataVersion.E", L"1.0");
  EXPECT_TRUE(FileStore(tracked).IsUntracked());
}
