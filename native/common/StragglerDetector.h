// Straggler detection: a tracked document saved outside the client no longer
// matches the save marks the client left in it (the last-save time and last
// author as they stood when the client last handled it). The detector
// compares marks and summary, and on a mismatch starts a new version whose
// VersionId is the tripwire, an MD5 fingerprint of the summary data.
#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <string>
#include <vector>

#include "IProperties.h"
#include "Win32Api.h"

namespace quorvane {

// The names the detector reads and writes, built once (first use, which
// library load forces) and never changed; safe to read from any thread.
// Through a DocfileProperties the numeric names are summary properties
// (id = number + 1).
struct StragglerNames {
  const std::wstring LastSaveTime;    // "12": PIDSI_LASTSAVE_DTM
  const std::wstring LastAuthor;      // "7": PIDSI_LASTAUTHOR
  const std::wstring PageCount;       // "13": PIDSI_PAGECOUNT
  const std::wstring WordCount;       // "14": PIDSI_WORDCOUNT
  const std::wstring CharacterCount;  // "15": PIDSI_CHARCOUNT
  const std::wstring SorrelSave = L"sorrel_save";
  const std::wstring LastSavedBy = L"Quorvane LastSavedBy";
  const std::wstring Tripwire = L"Quorvane Tripwire";

  static const StragglerNames& Get();

 private:
  StragglerNames();
};

// Operations of a detector over one property set. Implementations are made
// and destroyed as their own type, so the destructor is protected.
class IStragglerDetector {
 public:
  // Whether the marks differ from the summary (time first, then author). A
  // document without marks, or without last-save time and last author, is
  // never a straggler. A malformed record's MetadataVersion throws.
  virtual bool IsStraggler() = 0;
  // Lays "sorrel_save" = the last-save time (stamped now when absent) and
  // "Quorvane LastSavedBy" = the last author (left removed when absent).
  virtual void RecordSaveMarks() = 0;
  // Removes "sorrel_save", "Quorvane LastSavedBy" and "Quorvane Tripwire".
  virtual void ClearSaveMarks() = 0;
  // Starts a new version (VersionId = tripwire, empty AuthorId) on a copy of
  // the set and copies the record into target, or into the set when null.
  virtual void RecordStragglerVersion(IProperties* target) = 0;
  // Writes the current UTC time as the last-save time and returns it.
  virtual boost::posix_time::ptime StampLastSaveTime() = 0;

 protected:
  IStragglerDetector() = default;
  ~IStragglerDetector() = default;
};

// The detector over one set, held by reference and not owned (the caller
// keeps it alive); no other state. Made on the stack for one check; one
// thread at a time, like the set. Errors pass to the caller, except that a
// std::runtime_error inside the time or author test counts as no mismatch.
class StragglerDetector : public IStragglerDetector {
 public:
  explicit StragglerDetector(IProperties& properties) : properties(properties) {}
  ~StragglerDetector() = default;

  bool IsStraggler() override;
  void RecordSaveMarks() override;
  void ClearSaveMarks() override;
  void RecordStragglerVersion(IProperties* target) override;
  boost::posix_time::ptime StampLastSaveTime() override;

 private:
  bool LastSaveTimeDiffers() const;
  bool LastAuthorDiffers() const;

  IProperties& properties;
};

// The bytes the tripwire digests, read from `properties`: the last author as
// UTF-16LE, the last-save time as the 16 bytes of a SYSTEMTIME (eight
// little-endian 16-bit fields, day of week 0), the page, word and character
// counts as UTF-16LE text, then the current ExtendedVersionId as UTF-16LE.
// Absent values add nothing: no separator, no length.
std::vector<unsigned char> TripwireInput(const IProperties& properties);
// ToBase64Text of the MD5 of TripwireInput: 22 characters.
std::wstring ComputeTripwire(const IProperties& properties);

// The file-level check. Names without an Office extension answer 0 and are
// not opened. Without a target the document is opened read-write exclusive
// and a straggler's new record and marks are written into it; with a target
// it is opened read-only (deny none, single writer / multiple readers) and the
// new record goes into target, after which laying the marks fails (result 1).
// Answers 0 when done, the platform's negative code when the file cannot be
// opened, 1 when an error was raised after it was opened.
HRESULT CheckStraggler(const WCHAR* fileName, IProperties* target);

// Whether the name ends in ".doc", ".xls" or ".ppt", ignoring case.
bool IsOfficeFileName(const std::wstring& name);

}  // namespace quorvane
