// The tracking record of the version-history edge case, laid and checked the
// same way on every IProperties implementation: record X (sequence number 4,
// two unratified ids, no contributors) that a new version turns into Y.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "FileStore.h"
#include "NarrowText.h"
#include "PropertyTestSets.h"

namespace qvtest {

const std::wstring kRecordX = L"Xx+/abcdefghijklmnopqQ";

inline void LayRecordX(quorvane::IProperties& set) {
  const std::wstring x = kRecordX;
  set.SetProperty(L"Quorvane ExtendedVersionId", x);
  set.SetProperty(L"Quorvane MetadataVersion." + x, L"1.2");
  set.SetProperty(L"Quorvane DocumentId." + x, L"doc-17");
  set.SetProperty(L"Quorvane VersionId." + x, L"v-4");
  set.SetProperty(L"Quorvane SequenceNumber." + x, L"4");
  set.SetProperty(L"Quorvane AuthorId." + x, L"alice");
  set.SetProperty(L"Quorvane MasterDocumentId." + x, L"master-3");
  set.SetProperty(L"Quorvane UrVersionIdsSize." + x, L"2");
  set.SetProperty(L"Quorvane UrVersionId1." + x, L"u-1");
  set.SetProperty(L"Quorvane UrVersionId2." + x, L"u-2");
  set.SetProperty(L"Title", L"kept as it is");
}

// Checks record Y made from X by CreateNewVersion(V, A, {c1, c2}); returns Y.
inline std::wstring ExpectRecordY(const quorvane::IProperties& set, const std::wstring& versionId,
                                  const std::wstring& authorId) {
  const std::wstring y = Value(set, L"Quorvane ExtendedVersionId");
  EXPECT_EQ(22u, y.size());
  EXPECT_NE(kRecordX, y);
  EXPECT_EQ(L"1.2", Value(set, L"Quorvane MetadataVersion." + y));
  EXPECT_EQ(versionId, Value(set, L"Quorvane VersionId." + y));
  EXPECT_EQ(L"5", Value(set, L"Quorvane SequenceNumber." + y));
  EXPECT_EQ(authorId, Value(set, L"Quorvane AuthorId." + y));
  EXPECT_EQ(L"3", Value(set, L"Quorvane UrVersionIdsSize." + y));
  EXPECT_EQ(L"u-1", Value(set, L"Quorvane UrVersionId1." + y));
  EXPECT_EQ(L"u-2", Value(set, L"Quorvane UrVersionId2." + y));
  EXPECT_EQ(versionId, Value(set, L"Quorvane UrVersionId3." + y));
  EXPECT_EQ(L"2", Value(set, L"Quorvane ContributorsSize." + y));
  EXPECT_EQ(L"c1", Value(set, L"Quorvane Contributor1." + y));
  EXPECT_EQ(L"c2", Value(set, L"Quorvane Contributor2." + y));
  EXPECT_EQ(L"doc-17", Value(set, L"Quorvane DocumentId." + y));
  EXPECT_EQ(L"master-3", Value(set, L"Quorvane MasterDocumentId." + y));
  EXPECT_EQ(L"kept as it is", Value(set, L"Title"));
  const quorvane::NameList names = set.GetPropertyNames();
  for (const std::wstring& name : *names)
    EXPECT_EQ(std::wstring::npos, name.find(kRecordX)) << "left behind: " << quorvane::ToNarrow(name);
  // Exactly the record's 14 properties plus the untouched title.
  EXPECT_EQ(15u, names->size());
  return y;
}

}  // namespace qvtest
