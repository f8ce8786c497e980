// The document-tracking record kept in a property set: its names, the key
// scheme of per-version names, typed field accessors with their checks, and
// the operations that change the record as a whole.
#pragma once

#include <string>
#include <vector>

#include "IProperties.h"

namespace quorvane {

// The tracking names and constants, built once (first use, which library
// load forces) and never changed; safe to read from any thread.
struct TrackingNames {
  const std::wstring Untracked = L"Quorvane Untracked";
  const std::wstring ExtendedVersionId = L"Quorvane ExtendedVersionId";
  const std::wstring MetadataVersion = L"Quorvane MetadataVersion";
  const std::wstring DocumentId = L"Quorvane DocumentId";
  const std::wstring VersionId = L"Quorvane VersionId";
  const std::wstring SequenceNumber = L"Quorvane SequenceNumber";
  const std::wstring AuthorId = L"Quorvane AuthorId";
  const std::wstring MasterDocumentId = L"Quorvane MasterDocumentId";
  const std::wstring UrVersionIdsSize = L"Quorvane UrVersionIdsSize";
  const std::wstring UrVersionId = L"Quorvane UrVersionId";
  const std::wstring ContributorsSize = L"Quorvane ContributorsSize";
  const std::wstring Contributor = L"Quorvane Contributor";
  const std::wstring SorrelSave = L"sorrel_save";
  const std::wstring LastSavedBy = L"Quorvane LastSavedBy";
  const std::wstring Tripwire = L"Quorvane Tripwire";
  // Every tracking property's name starts with this (no trailing space).
  const std::wstring Prefix = L"Quorvane";
  // The only accepted value of the Untracked flag (any case on read).
  const std::wstring TrueString = L"true";
  // 1.2, parsed from its text so it is the float that text reads back as.
  const float CurrentMetadataVersion;

  static const TrackingNames& Get();

 private:
  TrackingNames();
};

// Full names of one record's fields: field + "." + E, and for the lists
// field + n + "." + E (n from 1, plain decimal). Holds its own copy of E.
class PropertyKeys {
 public:
  // E must be non-empty.
  explicit PropertyKeys(const std::wstring& extendedVersionId);

  std::wstring MetadataVersion() const;
  std::wstring DocumentId() const;
  std::wstring VersionId() const;
  std::wstring SequenceNumber() const;
  std::wstring AuthorId() const;
  std::wstring MasterDocumentId() const;
  std::wstring UnratifiedVersionIdsSize() const;
  std::wstring ContributorsSize() const;
  std::wstring UnratifiedVersionId(int n) const;
  std::wstring Contributor(int n) const;

 private:
  std::wstring Plain(const std::wstring& field) const;
  std::wstring Indexed(const std::wstring& field, int n) const;

  const std::wstring extendedVersionId;
};

// Reads and writes the tracking record of one property set, held by
// reference (the caller keeps it alive); caches nothing. Failed checks throw
// std::runtime_error (invalid_state for a new version of an untracked set);
// nothing is rolled back when a multi-step operation fails half-way. Use
// from one thread at a time, like the set itself.
class FileStore {
 public:
  explicit FileStore(IProperties& properties);

  // Field accessors. Every per-version one needs an ExtendedVersionId.
  TextHandle GetExtendedVersionId() const;
  std::wstring GetDocumentId() const;
  std::wstring GetVersionId() const;
  void SetVersionId(const std::wstring& versionId);
  std::wstring GetAuthorId() const;  // empty when absent
  void SetAuthorId(const std::wstring& authorId);
  std::wstring GetMasterDocumentId() const;
  float GetMetadataVersion() const;  // 1.0 when absent
  void SetMetadataVersion(float metadataVersion);
  int GetSequenceNumber() const;
  void SetSequenceNumber(int sequenceNumber);
  int GetUnratifiedVersionIdsSize() const;  // 0 when absent
  int GetContributorsSize() const;          // 0 when absent
  TextHandle GetUntracked() const;
  bool IsTracked() const;
  bool IsUntracked() const;

  // The two lists, checked in full: elements 1..count present and non-empty,
  // element count + 1 absent.
  NameList GetUnratifiedVersionIds() const;
  NameList GetContributors() const;
  void AddUnratifiedVersionId(const std::wstring& unratifiedVersionId);
  void AddContributors(const std::vector<std::wstring>& contributors);

  // Moves the record to a new key suffix (and drops the Untracked flag).
  void SetExtendedVersionId(const std::wstring& newExtendedVersionId);
  // Next version of a tracked set under a fresh identifier.
  void CreateNewVersion(const std::wstring& versionId, const std::wstring& authorId,
                        const std::vector<std::wstring>& contributors);
  // Removes every property whose name starts with "Quorvane", and "sorrel_save".
  static void ClearTracking(IProperties& target);
  // Clears target, then gives it this set's tracking state.
  void CopyTracking(IProperties& target) const;

 private:
  void MoveProperty(const std::wstring& from, const std::wstring& to);

  IProperties& properties;
};

// Float text of the record: 7 significant digits, shortest general form (1.2 -> "1.2").
std::wstring FormatMetadataVersion(float version);

}  // namespace quorvane
