// The per-version fields of a tracking record: which need a record or values; number and flag rules.
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

}  // namespace

TEST(FileStoreFields, EveryPerVersionAccessorNeedsARecordAndTextFieldsValues) {
  quorvane::Properties set = EmptySet();
  FileStore store(set);
  EXPECT_FALSE(store.IsTracked() || store.IsUntracked() || store.GetExtendedVersionId());
  const std::vector<std::function<void()>> accessors = {
      [&] { store.GetDocumentId(); },          [&] { store.GetVersionId(); },
      [&] { store.SetVersionId(L"v"); },       [&] { store.GetAuthorId(); },
      [&] { store.SetAuthorId(L"a"); },        [&] { store.GetMasterDocumentId(); },
      [&] { store.GetMetadataVersion(); },     [&] { store.SetMetadataVersion(1.2f); },
      [&] { store.GetSequenceNumber(); },      [&] { store.SetSequenceNumber(1); },
      [&] { store.GetUnratifiedVersionIdsSize(); }, [&] { store.GetContributorsSize(); },
      [&] { store.GetUnratifiedVersionIds(); }, [&] { store.GetContributors(); },
      [&] { store.AddUnratifiedVersionId(L"u"); }, [&] { store.AddContributors({L"c"}); }};
  for (size_t i = 0; i < accessors.size(); ++i) EXPECT_EQ("runtime_error : extendedVersionId", Why(accessors[i])) << i;
  EXPECT_TRUE(set.GetPropertyNames()->empty());  // nothing was written
  set.SetProperty(L"Quorvane ExtendedVersionId", L"");
  EXPECT_EQ("runtime_error : !result || !result->empty()", Why([&] { store.IsTracked(); }));
  // Text fields require values where the doc needs them.
  quorvane::Properties doc = RecordWith({{L"DocumentId", L""}, {L"VersionId", L"v1"}}), empty = EmptySet();
  FileStore fields(doc), noRecord(empty);
  EXPECT_EQ(L"v1", fields.GetVersionId());
  EXPECT_EQ(L"", fields.GetAuthorId());
  fields.SetAuthorId(L"");
  fields.SetVersionId(L"v2");
  EXPECT_EQ(L"|v2", Values(doc, {L"Quorvane AuthorId.E", L"Quorvane VersionId.E"}));
  // The last three: argument checks come before the doc is looked at.
  const std::pair<std::function<void()>, const char*> failures[] = {
      {[&] { fields.GetDocumentId(); }, "documentId && !documentId->empty()"},
      {[&] { fields.GetMasterDocumentId(); }, "masterDocumentId && !masterDocumentId->empty()"},
      {[&] { doc.RemoveProperty(L"Quorvane VersionId.E"), fields.GetVersionId(); }, "versionId && !versionId->empty()"},
      {[&] { noRecord.SetVersionId(L""); }, "!versionId.empty()"},
      {[&] { noRecord.SetMetadataVersion(0.5f); }, "metadataVersion >= 1.0f"},
      {[&] { noRecord.SetSequenceNumber(-1); }, "sequenceNumber >= 0"}};
  for (const auto& [call, check] : failures) EXPECT_EQ(std::string("runtime_error : ") + check, Why(call));
}

TEST(FileStoreFields, MetadataVersionOrTheUntrackedFlagDecideWhetherTheSetIsTracked) {
  struct Case { const wchar_t* text; bool tracked; };
  for (const Case& c : {Case{L"1.2", true}, Case{L"2", true}, Case{L"1.2 ", true}, Case{L"1.0", false},
                        Case{L"1.1999", false}, Case{L"nan", false}}) {
    quorvane::Properties set = RecordWith({{L"MetadataVersion", c.text}});
    EXPECT_EQ(c.tracked, FileStore(set).IsTracked()) << quorvane::ToNarrow(c.text);
  }
  quorvane::Properties absent = RecordWith({}), bad = RecordWith({{L"MetadataVersion", L" 1.2"}});
  EXPECT_EQ(1.0f, FileStore(absent).GetMetadataVersion());
  EXPECT_FALSE(FileStore(absent).IsTracked());
  EXPECT_EQ("bad_lexical_cast caused by 'lexical_cast<float>( 1.2)'", Why([&] { FileStore(bad).IsTracked(); }));
  bad.SetProperty(L"Quorvane MetadataVersion.E", L"");
  EXPECT_EQ("runtime_error : !metadataVersion || !metadataVersion->empty()",
            Why([&] { FileStore(bad).GetMetadataVersion(); }));
  FileStore store(absent);
  store.SetMetadataVersion(1.2f);
  EXPECT_EQ(L"1.2", Value(absent, L"Quorvane MetadataVersion.E"));
  EXPECT_EQ(quorvane::TrackingNames::Get().CurrentMetadataVersion, store.GetMetadataVersion());
  EXPECT_EQ(L"2.5", quorvane::FormatMetadataVersion(2.5f));
  EXPECT_EQ(L"1", quorvane::FormatMetadataVersion(1.0f));
  // The untracked flag is true in any case, or an error.
  quorvane::Properties flagged = EmptySet();
  FileStore flags(flagged);
  flagged.SetProperty(L"Quorvane Untracked", L"TRUE");
  EXPECT_TRUE(flags.IsUntracked());
  flagged.SetProperty(L"Quorvane Untracked", L"True");
  EXPECT_EQ(L"True", *flags.GetUntracked());
  flagged.SetProperty(L"Quorvane Untracked", L"yes");
  const std::string check = "runtime_error : !result || boost::iequals(*result, TrueString)";
  EXPECT_EQ(check, Why([&] { flags.GetUntracked(); }));
  EXPECT_EQ(check, Why([&] { flags.IsUntracked(); }));
  // A tracked record wins over the flag; an old-version record does not.
  quorvane::Properties tracked = RecordWith({{L"MetadataVersion", L"1.2"}});
  tracked.SetProperty(L"Quorvane Untracked", L"true");
  EXPECT_FALSE(FileStore(tracked).IsUntracked());
  tracked.SetProperty(L"Quorvane MetadataVersion.E", L"1.0");
  EXPECT_TRUE(FileStore(tracked).IsUntracked());
}

TEST(FileStoreFields, NumbersAreDigitsOnlyAndFitAnInt) {
  const std::string digitCheck =
      "runtime_error : sequenceNumber && !sequenceNumber->empty() && boost::all(*sequenceNumber, boost::is_digit())";
  quorvane::Properties set = RecordWith({{L"SequenceNumber", L"007"}});
  FileStore store(set);
  auto sequence = [&] { store.GetSequenceNumber(); };
  EXPECT_EQ(7, store.GetSequenceNumber());
  for (const wchar_t* text : {L"-1", L" 7", L"7 ", L"7a", L"", L"+7"}) {
    set.SetProperty(L"Quorvane SequenceNumber.E", text);
    EXPECT_EQ(digitCheck, Why(sequence)) << quorvane::ToNarrow(text);
  }
  // Which check refuses a non-ASCII digit is the runtime's choice (msvcrt counts U+0663, glibc does not).
  set.SetProperty(L"Quorvane SequenceNumber.E", L"\u0663");
  const std::string arabicDigit = Why(sequence);
  EXPECT_TRUE(arabicDigit == digitCheck || arabicDigit.find("lexical_cast<int>(\xB6)'") != std::string::npos)
      << arabicDigit;
  set.RemoveProperty(L"Quorvane SequenceNumber.E");
  EXPECT_EQ(digitCheck, Why(sequence));
  set.SetProperty(L"Quorvane SequenceNumber.E", L"2147483648");
  EXPECT_EQ("bad_lexical_cast caused by 'lexical_cast<int>(2147483648)'", Why(sequence));
  set.SetProperty(L"Quorvane SequenceNumber.E", L"2147483647");
  EXPECT_EQ(2147483647, store.GetSequenceNumber());
  store.SetSequenceNumber(0);
  EXPECT_EQ(L"0", Value(set, L"Quorvane SequenceNumber.E"));

  // The list counts: absent is 0, anything else must be digits.
  EXPECT_EQ(0, store.GetUnratifiedVersionIdsSize() + store.GetContributorsSize());
  set.SetProperty(L"Quorvane UrVersionIdsSize.E", L"");
  set.SetProperty(L"Quorvane ContributorsSize.E", L"x3");
  const std::string countCheck = "runtime_error : !number->empty() && boost::all(*number, boost::is_digit())";
  EXPECT_EQ(countCheck, Why([&] { store.GetUnratifiedVersionIdsSize(); }));
  EXPECT_EQ(countCheck, Why([&] { store.GetContributorsSize(); }));
  set.SetProperty(L"Quorvane ContributorsSize.E", L"99999999999");
  EXPECT_EQ("bad_lexical_cast caused by 'lexical_cast<int>(99999999999)'", Why([&] { store.GetContributorsSize(); }));
  set.SetProperty(L"Quorvane UrVersionIdsSize.E", L"12");
  EXPECT_EQ(12, store.GetUnratifiedVersionIdsSize());
}
