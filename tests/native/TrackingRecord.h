// Record X of the version-history tests (sequence number 4, two unratified
// ids, no contributors), laid on any IProperties implementation.
#pragma once

#include <gtest/gtest.h>

#include "FileStore.h"
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

}  // namespace qvtest
