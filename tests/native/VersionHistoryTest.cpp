// Version history: new versions, the id and contributor lists, re-keying, copying and clearing the record.
#include <gtest/gtest.h>

#include "FileStore.h"
#include "PropertyTestSets.h"

using quorvane::FileStore;
using namespace qvtest;

namespace {

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
