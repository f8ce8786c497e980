#include "FileStore.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <algorithm>
#include <limits>

#include "ExceptionReport.h"
#include "NarrowText.h"
#include "NumberText.h"
#include "guid.h"

namespace quorvane {

namespace {

const TrackingNames& Names() { return TrackingNames::Get(); }

// The report text of a text that passed its checks but does not convert.
std::string LexicalCastFailure(const char* type, const std::wstring& value) {
  return std::string("bad_lexical_cast caused by 'lexical_cast<") + type + ">(" + ToNarrow(value) + ")'";
}

std::wstring Decimal(long long number) { return std::to_wstring(number); }

// Capacity for a count read from a document: enough for any honest list,
// while a forged count fails on its first missing element, not in reserve().
size_t ReserveFor(int count) { return static_cast<size_t>(std::min(count, 1024)); }

}  // namespace

// ---- Names and keys ------------------------------------------------------

namespace {
float ParsedOrZero(const wchar_t* text) {
  float value = 0;
  ParseFloat(text, value);
  return value;
}
}  // namespace

TrackingNames::TrackingNames() : CurrentMetadataVersion(ParsedOrZero(L"1.2")) {}

const TrackingNames& TrackingNames::Get() {
  static const TrackingNames names;
  return names;
}

PropertyKeys::PropertyKeys(const std::wstring& extendedVersionId) : extendedVersionId(extendedVersionId) {
  CHECK(runtime_error, !extendedVersionId.empty());
}

std::wstring PropertyKeys::Plain(const std::wstring& field) const { return field + L"." + extendedVersionId; }

std::wstring PropertyKeys::Indexed(const std::wstring& field, int n) const {
  return field + std::to_wstring(n) + L"." + extendedVersionId;
}

std::wstring PropertyKeys::MetadataVersion() const { return Plain(Names().MetadataVersion); }
std::wstring PropertyKeys::DocumentId() const { return Plain(Names().DocumentId); }
std::wstring PropertyKeys::VersionId() const { return Plain(Names().VersionId); }
std::wstring PropertyKeys::SequenceNumber() const { return Plain(Names().SequenceNumber); }
std::wstring PropertyKeys::AuthorId() const { return Plain(Names().AuthorId); }
std::wstring PropertyKeys::MasterDocumentId() const { return Plain(Names().MasterDocumentId); }
std::wstring PropertyKeys::UnratifiedVersionIdsSize() const { return Plain(Names().UrVersionIdsSize); }
std::wstring PropertyKeys::ContributorsSize() const { return Plain(Names().ContributorsSize); }
std::wstring PropertyKeys::UnratifiedVersionId(int n) const { return Indexed(Names().UrVersionId, n); }
std::wstring PropertyKeys::Contributor(int n) const { return Indexed(Names().Contributor, n); }

std::wstring FormatMetadataVersion(float version) { return FormatFloat(version); }

// ---- Field accessors -----------------------------------------------------
// Each per-version accessor reads the current ExtendedVersionId itself, so a
// missing record is reported at the accessor that needed it.

FileStore::FileStore(IProperties& properties) : properties(properties) {}

TextHandle FileStore::GetExtendedVersionId() const {
  const TextHandle result = properties.GetProperty(Names().ExtendedVersionId);
  CHECK(runtime_error, !result || !result->empty());
  return result;
}

std::wstring FileStore::GetDocumentId() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle documentId = properties.GetProperty(PropertyKeys(*extendedVersionId).DocumentId());
  CHECK(runtime_error, documentId && !documentId->empty());
  return *documentId;
}

std::wstring FileStore::GetVersionId() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle versionId = properties.GetProperty(PropertyKeys(*extendedVersionId).VersionId());
  CHECK(runtime_error, versionId && !versionId->empty());
  return *versionId;
}

void FileStore::SetVersionId(const std::wstring& versionId) {
  CHECK(runtime_error, !versionId.empty());
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  properties.SetProperty(PropertyKeys(*extendedVersionId).VersionId(), versionId);
}

std::wstring FileStore::GetAuthorId() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle authorId = properties.GetProperty(PropertyKeys(*extendedVersionId).AuthorId());
  return authorId ? *authorId : std::wstring();
}

void FileStore::SetAuthorId(const std::wstring& authorId) {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  properties.SetProperty(PropertyKeys(*extendedVersionId).AuthorId(), authorId);
}

std::wstring FileStore::GetMasterDocumentId() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle masterDocumentId = properties.GetProperty(PropertyKeys(*extendedVersionId).MasterDocumentId());
  CHECK(runtime_error, masterDocumentId && !masterDocumentId->empty());
  return *masterDocumentId;
}

float FileStore::GetMetadataVersion() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle metadataVersion = properties.GetProperty(PropertyKeys(*extendedVersionId).MetadataVersion());
  CHECK(runtime_error, !metadataVersion || !metadataVersion->empty());
  if (!metadataVersion) return 1.0f;
  float version = 0;
  if (!ParseFloat(*metadataVersion, version)) RAISE(LexicalCastFailure("float", *metadataVersion));
  return version;
}

void FileStore::SetMetadataVersion(float metadataVersion) {
  CHECK(runtime_error, metadataVersion >= 1.0f);
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  properties.SetProperty(PropertyKeys(*extendedVersionId).MetadataVersion(), FormatMetadataVersion(metadataVersion));
}

int FileStore::GetSequenceNumber() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle sequenceNumber = properties.GetProperty(PropertyKeys(*extendedVersionId).SequenceNumber());
  CHECK(runtime_error, sequenceNumber && !sequenceNumber->empty() && boost::all(*sequenceNumber, boost::is_digit()));
  int number = 0;
  if (!ParseDecimalInt(*sequenceNumber, number)) RAISE(LexicalCastFailure("int", *sequenceNumber));
  return number;
}

void FileStore::SetSequenceNumber(int sequenceNumber) {
  CHECK(runtime_error, sequenceNumber >= 0);
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  properties.SetProperty(PropertyKeys(*extendedVersionId).SequenceNumber(), Decimal(sequenceNumber));
}

int FileStore::GetUnratifiedVersionIdsSize() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle number = properties.GetProperty(PropertyKeys(*extendedVersionId).UnratifiedVersionIdsSize());
  if (!number) return 0;
  CHECK(runtime_error, !number->empty() && boost::all(*number, boost::is_digit()));
  int size = 0;
  if (!ParseDecimalInt(*number, size)) RAISE(LexicalCastFailure("int", *number));
  return size;
}

int FileStore::GetContributorsSize() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const TextHandle number = properties.GetProperty(PropertyKeys(*extendedVersionId).ContributorsSize());
  if (!number) return 0;
  CHECK(runtime_error, !number->empty() && boost::all(*number, boost::is_digit()));
  int size = 0;
  if (!ParseDecimalInt(*number, size)) RAISE(LexicalCastFailure("int", *number));
  return size;
}

TextHandle FileStore::GetUntracked() const {
  const TextHandle result = properties.GetProperty(Names().Untracked);
  const std::wstring& TrueString = Names().TrueString;
  CHECK(runtime_error, !result || boost::iequals(*result, TrueString));
  return result;
}

bool FileStore::IsTracked() const {
  if (!GetExtendedVersionId()) return false;
  // A NaN version compares false: not tracked.
  return GetMetadataVersion() >= Names().CurrentMetadataVersion;
}

bool FileStore::IsUntracked() const {
  if (IsTracked()) return false;
  return static_cast<bool>(GetUntracked());
}

// ---- The two lists -------------------------------------------------------

NameList FileStore::GetUnratifiedVersionIds() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const PropertyKeys propertyKeys(*extendedVersionId);
  const int currentSize = GetUnratifiedVersionIdsSize();
  NameList result(new std::vector<std::wstring>());
  result->reserve(ReserveFor(currentSize));
  for (int i = 1; i <= currentSize; ++i) {
    const TextHandle versionId = properties.GetProperty(propertyKeys.UnratifiedVersionId(i));
    CHECK(runtime_error, versionId && !versionId->empty());
    result->push_back(*versionId);
  }
  if (currentSize < std::numeric_limits<int>::max())
    CHECK(runtime_error, !properties.GetProperty(propertyKeys.UnratifiedVersionId(currentSize + 1)));
  return result;
}

NameList FileStore::GetContributors() const {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const PropertyKeys propertyKeys(*extendedVersionId);
  const int currentSize = GetContributorsSize();
  NameList result(new std::vector<std::wstring>());
  result->reserve(ReserveFor(currentSize));
  for (int i = 1; i <= currentSize; ++i) {
    const TextHandle versionId = properties.GetProperty(propertyKeys.Contributor(i));
    CHECK(runtime_error, versionId && !versionId->empty());
    result->push_back(*versionId);
  }
  if (currentSize < std::numeric_limits<int>::max())
    CHECK(runtime_error, !properties.GetProperty(propertyKeys.Contributor(currentSize + 1)));
  return result;
}

void FileStore::AddUnratifiedVersionId(const std::wstring& unratifiedVersionId) {
  CHECK(runtime_error, !unratifiedVersionId.empty());
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const PropertyKeys propertyKeys(*extendedVersionId);
  const int currentSize = GetUnratifiedVersionIdsSize();
  CHECK(runtime_error, currentSize < std::numeric_limits<int>::max());
  properties.SetProperty(propertyKeys.UnratifiedVersionIdsSize(), Decimal(currentSize + 1));
  properties.SetProperty(propertyKeys.UnratifiedVersionId(currentSize + 1), unratifiedVersionId);
}

void FileStore::AddContributors(const std::vector<std::wstring>& contributors) {
  const TextHandle extendedVersionId = GetExtendedVersionId();
  CHECK(runtime_error, extendedVersionId);
  const PropertyKeys propertyKeys(*extendedVersionId);
  const int currentSize = GetContributorsSize();
  const long long total = static_cast<long long>(currentSize) + static_cast<long long>(contributors.size());
  if (total == 0) return;
  CHECK(runtime_error, total <= std::numeric_limits<int>::max());
  properties.SetProperty(propertyKeys.ContributorsSize(), Decimal(total));
  for (size_t i = 0; i < contributors.size(); ++i)
    properties.SetProperty(propertyKeys.Contributor(currentSize + 1 + static_cast<int>(i)), contributors[i]);
}

// ---- Whole-record operations ---------------------------------------------

void FileStore::MoveProperty(const std::wstring& from, const std::wstring& to) {
  const TextHandle value = properties.GetProperty(from);
  if (!value) return;
  properties.RemoveProperty(from);
  properties.SetProperty(to, *value);
}

void FileStore::SetExtendedVersionId(const std::wstring& newExtendedVersionId) {
  CHECK(runtime_error, !newExtendedVersionId.empty());
  properties.RemoveProperty(Names().Untracked);

  const TextHandle oldExtendedVersionId = properties.GetProperty(Names().ExtendedVersionId);
  if (oldExtendedVersionId) {
    const PropertyKeys oldKeys(*oldExtendedVersionId);
    const PropertyKeys newKeys(newExtendedVersionId);
    MoveProperty(oldKeys.MetadataVersion(), newKeys.MetadataVersion());
    MoveProperty(oldKeys.DocumentId(), newKeys.DocumentId());
    MoveProperty(oldKeys.VersionId(), newKeys.VersionId());
    MoveProperty(oldKeys.SequenceNumber(), newKeys.SequenceNumber());
    MoveProperty(oldKeys.AuthorId(), newKeys.AuthorId());
    MoveProperty(oldKeys.MasterDocumentId(), newKeys.MasterDocumentId());

    // The counts are still read under the old id: ExtendedVersionId changes last.
    const int unratifiedSize = GetUnratifiedVersionIdsSize();
    if (unratifiedSize > 0) {
      MoveProperty(oldKeys.UnratifiedVersionIdsSize(), newKeys.UnratifiedVersionIdsSize());
      for (int i = 1; i <= unratifiedSize; ++i)
        MoveProperty(oldKeys.UnratifiedVersionId(i), newKeys.UnratifiedVersionId(i));
    }
    const int contributorsSize = GetContributorsSize();
    if (contributorsSize > 0) {
      MoveProperty(oldKeys.ContributorsSize(), newKeys.ContributorsSize());
      for (int i = 1; i <= contributorsSize; ++i) MoveProperty(oldKeys.Contributor(i), newKeys.Contributor(i));
    }
  }
  properties.SetProperty(Names().ExtendedVersionId, newExtendedVersionId);
}

void FileStore::CreateNewVersion(const std::wstring& versionId, const std::wstring& authorId,
                                 const std::vector<std::wstring>& contributors) {
  CHECK(invalid_state, IsTracked());
  SetExtendedVersionId(NewGuidText());
  SetMetadataVersion(Names().CurrentMetadataVersion);
  SetVersionId(versionId);
  const int sequenceNumber = GetSequenceNumber();
  CHECK(runtime_error, sequenceNumber < std::numeric_limits<int>::max());
  SetSequenceNumber(sequenceNumber + 1);
  SetAuthorId(authorId);
  AddUnratifiedVersionId(versionId);
  AddContributors(contributors);
}

void FileStore::ClearTracking(IProperties& target) {
  const NameList propertyNames = target.GetPropertyNames();
  CHECK(runtime_error, propertyNames);
  for (const std::wstring& name : *propertyNames)
    if (boost::starts_with(name, Names().Prefix)) target.RemoveProperty(name);
  target.RemoveProperty(Names().SorrelSave);
}

void FileStore::CopyTracking(IProperties& target) const {
  ClearTracking(target);

  if (IsTracked()) {
    const TextHandle extendedVersionId = GetExtendedVersionId();
    CHECK(runtime_error, extendedVersionId);
    const PropertyKeys keys(*extendedVersionId);
    target.SetProperty(Names().ExtendedVersionId, *extendedVersionId);
    // Each value is read just before it is written: a failing read leaves
    // the fields before it in the target.
    target.SetProperty(keys.MetadataVersion(), FormatMetadataVersion(GetMetadataVersion()));
    target.SetProperty(keys.DocumentId(), GetDocumentId());
    target.SetProperty(keys.VersionId(), GetVersionId());
    target.SetProperty(keys.SequenceNumber(), Decimal(GetSequenceNumber()));
    target.SetProperty(keys.AuthorId(), GetAuthorId());
    target.SetProperty(keys.MasterDocumentId(), GetMasterDocumentId());

    const int unratifiedSize = GetUnratifiedVersionIdsSize();
    if (unratifiedSize > 0) {
      target.SetProperty(keys.UnratifiedVersionIdsSize(), Decimal(unratifiedSize));
      const NameList unratified = GetUnratifiedVersionIds();
      for (int i = 1; i <= unratifiedSize; ++i) target.SetProperty(keys.UnratifiedVersionId(i), (*unratified)[i - 1]);
    }
    const int contributorsSize = GetContributorsSize();
    if (contributorsSize > 0) {
      target.SetProperty(keys.ContributorsSize(), Decimal(contributorsSize));
      const NameList contributors = GetContributors();
      for (int i = 1; i <= contributorsSize; ++i) target.SetProperty(keys.Contributor(i), (*contributors)[i - 1]);
    }
  } else if (IsUntracked()) {
    target.SetProperty(Names().Untracked, Names().TrueString);
  }
}

}  // namespace quorvane
