// The tracking record: per-version fields (which need a record or values, number and flag rules); new versions,
// the id and contributor lists, re-keying, copying and clearing.
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

std::vector<std::wstring> TrackingNamesOf(const quorvane::IProperties& set) {
  std::vector<std::wstring> names;
  const quorvane::NameList all = set.GetPropertyNames();  // kept: the loop reads through it
  for (const std::wstring& name : *all)
    if (name.compare(0, 8, L"Quorvane") == 0 || name == L"sorrel_save") names.push_back(name);
  return names;
}

quorvane::Properties RecordX() {
  quorvane::Properties set = EmptySet();
  LayRecordX(set);
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

TEST(VersionHistory, NewVersionRefusesUntrackedSetsIsNotRolledBackAndReKeyingMovesTheRecord) {
  quorvane::Properties old = RecordX();
  old.SetProperty(L"Quorvane MetadataVersion." + kRecordX, L"1.0");
  RecordingSet recorder(old);
  EXPECT_EQ("invalid_state : IsTracked()",
            Why<std::logic_error>([&] { FileStore(recorder).CreateNewVersion(L"V", L"A", {}); }));
  EXPECT_TRUE(recorder.log.empty());

  // Fails at the sequence number: already re-keyed and partly written.
  quorvane::Properties partial = RecordX();
  partial.RemoveProperty(L"Quorvane SequenceNumber." + kRecordX);
  EXPECT_THROW(FileStore(partial).CreateNewVersion(L"V", L"A", {}), std::runtime_error);
  const std::wstring y = Value(partial, L"Quorvane ExtendedVersionId");
  EXPECT_NE(kRecordX, y);
  EXPECT_EQ(L"1.2|V|2", Values(partial, {L"Quorvane MetadataVersion." + y, L"Quorvane VersionId." + y,
                                         L"Quorvane UrVersionIdsSize." + y}));
  // Re-keying moves the counted record only.
  quorvane::Properties set = EmptySet();
  set.SetProperty(L"Quorvane Untracked", L"true");
  FileStore store(set);
  store.SetExtendedVersionId(L"N1");
  EXPECT_EQ((std::vector<std::wstring>{L"Quorvane ExtendedVersionId"}), *set.GetPropertyNames());
  EXPECT_EQ("runtime_error : !newExtendedVersionId.empty()", Why([&] { store.SetExtendedVersionId(L""); }));

  LayRecordX(set);
  set.SetProperty(L"Quorvane UrVersionId3." + kRecordX, L"stray");  // beyond the count: stays
  set.SetProperty(L"Quorvane AuthorId." + kRecordX, L"");           // empty values move too
  store.SetExtendedVersionId(L"N2");
  EXPECT_EQ(L"stray||u-2|4|<absent>", Values(set, {L"Quorvane UrVersionId3." + kRecordX, L"Quorvane AuthorId.N2",
                                                   L"Quorvane UrVersionId2.N2", L"Quorvane SequenceNumber.N2",
                                                   L"Quorvane DocumentId." + kRecordX}));
}

TEST(VersionHistory, ListsAreCheckedInFullAndAppendedCountFirst) {
  quorvane::Properties set = RecordX();
  const std::wstring x = L"." + kRecordX;
  FileStore store(set);
  auto ids = [&] { store.GetUnratifiedVersionIds(); };
  auto contributors = [&] { store.GetContributors(); };
  set.SetProperty(L"Quorvane UrVersionId3" + x, L"beyond the count");
  EXPECT_EQ("runtime_error : !properties.GetProperty(propertyKeys.UnratifiedVersionId(currentSize + 1))", Why(ids));
  set.RemoveProperty(L"Quorvane UrVersionId2" + x);
  EXPECT_EQ("runtime_error : versionId && !versionId->empty()", Why(ids));
  set.SetProperty(L"Quorvane ContributorsSize" + x, L"1");
  set.SetProperty(L"Quorvane Contributor1" + x, L"c1");
  set.SetProperty(L"Quorvane Contributor2" + x, L"c2");
  EXPECT_EQ("runtime_error : !properties.GetProperty(propertyKeys.Contributor(currentSize + 1))", Why(contributors));
  set.SetProperty(L"Quorvane Contributor1" + x, L"");
  EXPECT_EQ("runtime_error : versionId && !versionId->empty()", Why(contributors));
  // A forged count fails on its first missing element, without reserving it.
  set.SetProperty(L"Quorvane ContributorsSize" + x, L"2147483647");
  EXPECT_THROW(store.GetContributors(), std::runtime_error);

  RecordingSet recorder(set);
  FileStore recorded(recorder);
  recorded.AddUnratifiedVersionId(L"u-3");
  EXPECT_EQ((std::vector<std::wstring>{L"set Quorvane UrVersionIdsSize" + x + L"=3",
                                       L"set Quorvane UrVersionId3" + x + L"=u-3"}),
            recorder.log);
  EXPECT_EQ("runtime_error : !unratifiedVersionId.empty()", Why([&] { recorded.AddUnratifiedVersionId(L""); }));
  // AddContributors writes only when there is a list.
  quorvane::Properties fresh = RecordX();
  RecordingSet freshRecorder(fresh);
  FileStore adder(freshRecorder);
  adder.AddContributors({});
  EXPECT_TRUE(freshRecorder.log.empty());
  adder.AddContributors({L"c1", L"c2", L"c3"});
  freshRecorder.log.clear();
  adder.AddContributors({});
  EXPECT_EQ((std::vector<std::wstring>{L"set Quorvane ContributorsSize." + kRecordX + L"=3"}), freshRecorder.log);
  adder.AddContributors({L"c4"});
  EXPECT_EQ((std::vector<std::wstring>{L"c1", L"c2", L"c3", L"c4"}), *adder.GetContributors());
}

TEST(VersionHistory, CopyGivesTheTargetTheSourceStateAndClearingTakesThePrefix) {
  const quorvane::Properties full = RecordX();
  // Explicitly untracked source: only the flag remains of the tracking properties.
  quorvane::Properties untracked = EmptySet(), none = EmptySet(), target(full), cleared(full), copy = EmptySet(),
                       half(full);
  untracked.SetProperty(L"Quorvane Untracked", L"TRUE");
  FileStore(untracked).CopyTracking(target);
  EXPECT_EQ((std::vector<std::wstring>{L"Quorvane Untracked"}), TrackingNamesOf(target));
  EXPECT_EQ(L"true", Value(target, L"Quorvane Untracked"));
  // No record at all: nothing remains.
  FileStore(none).CopyTracking(cleared);
  EXPECT_TRUE(TrackingNamesOf(cleared).empty());
  // An absent AuthorId is copied as empty text; a missing DocumentId stops the copy after MetadataVersion.
  quorvane::Properties source(full);
  source.RemoveProperty(L"Quorvane AuthorId." + kRecordX);
  FileStore(source).CopyTracking(copy);
  EXPECT_EQ(L"", Value(copy, L"Quorvane AuthorId." + kRecordX));
  source.RemoveProperty(L"Quorvane DocumentId." + kRecordX);
  EXPECT_EQ("runtime_error : documentId && !documentId->empty()", Why([&] { FileStore(source).CopyTracking(half); }));
  EXPECT_EQ((std::vector<std::wstring>{L"Quorvane ExtendedVersionId", L"Quorvane MetadataVersion." + kRecordX}),
            TrackingNamesOf(half));
  // Clearing takes the prefix case-sensitively.
  quorvane::Properties set = EmptySet();
  for (const wchar_t* name : {L"QuorvaneX", L"Quorvane DocumentId.X", L"sorrel_save", L"quorvane x", L"Title",
                              L"Quorvane Tripwire", L"Quorvane LastSavedBy", L"Quorvan"})
    set.SetProperty(name, L"v");
  FileStore::ClearTracking(set);
  EXPECT_EQ((std::vector<std::wstring>{L"Quorvan", L"Title", L"quorvane x"}), *set.GetPropertyNames());
  ScriptedSet unlisted;
  unlisted.listNames = false;
  EXPECT_EQ("runtime_error : propertyNames", Why([&] { FileStore::ClearTracking(unlisted); }));
}
