// Record X of the version-history tests (sequence number 4, two unratified
// ids, no contributors), laid on any IProperties implementation.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "FileStore.h"
#include "PropertyTestSets.h"

namespace qvtest {

const std::wstring kRecordX = L"Xx+/abcdefghijklmnopqQ";

inline void LayRecordX(quorvane::IProperties& set) {
  set.SetProperty(L"Quorvane ExtendedVersionId", kRecordX);
  for (const auto& [name, value] : std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>{
           {L"MetadataVersion", L"1.2"}, {L"DocumentId", L"doc-17"}, {L"VersionId", L"v-4"},
           {L"SequenceNumber", L"4"}, {L"AuthorId", L"alice"}, {L"MasterDocumentId", L"master-3"},
           {L"UrVersionIdsSize", L"2"}, {L"UrVersionId1", L"u-1"}, {L"UrVersionId2", L"u-2"}})
    set.SetProperty(L"Quorvane " + std::wstring(name) + L"." + kRecordX, value);
  set.SetProperty(L"Title", L"kept as it is");
}

}  // namespace qvtest
