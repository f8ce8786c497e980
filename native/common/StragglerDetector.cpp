// Boost first: strsafe.h on Windows poisons the sprintf family that
// lexical_cast uses.
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/lexical_cast.hpp>
#include <locale>

#include "StragglerDetector.h"

#include "DateTime.h"
#include "DocfileProperties.h"
#include "FileStore.h"
#include "Digest.h"
#include "NumberText.h"
#include "Properties.h"
#include "Utf16.h"
#include "guid.h"

namespace quorvane {

namespace {

// Open modes of the two passes of CheckStraggler.
const DWORD kWritablePassMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;                    // 0x00000012
const DWORD kReadOnlyPassMode = STGM_READ | STGM_SHARE_DENY_NONE | STGM_DIRECT_SWMR;     // 0x00400040

// The SYSTEMTIME record as it lies in memory on Windows: eight 16-bit
// little-endian fields in this order.
constexpr size_t kSystemTimeBytes = 16;

void AppendUtf16Le(std::vector<unsigned char>& bytes, const std::wstring& text) {
  for (const char16_t unit : Utf16FromWide(text)) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
}

void AppendWord(std::vector<unsigned char>& bytes, WORD value) {
  bytes.push_back(static_cast<unsigned char>(value & 0xFF));
  bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void AppendSystemTime(std::vector<unsigned char>& bytes, const SYSTEMTIME& time) {
  const WORD fields[] = {time.wYear,   time.wMonth,  time.wDayOfWeek, time.wDay,
                         time.wHour,   time.wMinute, time.wSecond,    time.wMilliseconds};
  static_assert(sizeof fields == kSystemTimeBytes, "the SYSTEMTIME record is 16 bytes");
  for (const WORD field : fields) AppendWord(bytes, field);
}

void AppendTextIfPresent(std::vector<unsigned char>& bytes, const IProperties& properties, const std::wstring& name) {
  const TextHandle text = properties.GetStoredText(name);
  if (text) AppendUtf16Le(bytes, *text);
}

}  // namespace

// ---- Names ---------------------------------------------------------------

StragglerNames::StragglerNames()
    : LastSaveTime(boost::lexical_cast<std::wstring>(12)),
      LastAuthor(boost::lexical_cast<std::wstring>(7)),
      PageCount(boost::lexical_cast<std::wstring>(13)),
      WordCount(boost::lexical_cast<std::wstring>(14)),
      CharacterCount(boost::lexical_cast<std::wstring>(15)) {}

const StragglerNames& StragglerNames::Get() {
  static const StragglerNames names;
  return names;
}

namespace {
const StragglerNames& Names() { return StragglerNames::Get(); }
}  // namespace

// ---- The tripwire --------------------------------------------------------

std::vector<unsigned char> TripwireInput(const IProperties& properties) {
  std::vector<unsigned char> bytes;
  AppendTextIfPresent(bytes, properties, Names().LastAuthor);
  const boost::posix_time::ptime lastSaved = properties.GetDateProperty(Names().LastSaveTime);
  if (!lastSaved.is_not_a_date_time()) AppendSystemTime(bytes, ToSystemTime(lastSaved));
  AppendTextIfPresent(bytes, properties, Names().PageCount);
  AppendTextIfPresent(bytes, properties, Names().WordCount);
  AppendTextIfPresent(bytes, properties, Names().CharacterCount);
  AppendTextIfPresent(bytes, properties, TrackingNames::Get().ExtendedVersionId);
  return bytes;
}

std::wstring ComputeTripwire(const IProperties& properties) {
  const std::vector<unsigned char> bytes = TripwireInput(properties);
  const Md5Digest digest = ComputeMd5(bytes.data(), bytes.size());
  return ToBase64Text(digest.data(), digest.size());
}

// ---- StragglerDetector ---------------------------------------------------

bool StragglerDetector::IsStraggler() {
  // Validation only: a record whose MetadataVersion is empty or no number
  // ends the check with the conversion error. An absent one is left alone
  // (it reads as 1.0 elsewhere).
  const TextHandle extendedVersionId = properties.GetProperty(TrackingNames::Get().ExtendedVersionId);
  if (extendedVersionId) {
    const PropertyKeys keys(*extendedVersionId);
    const TextHandle metadataVersion = properties.GetProperty(keys.MetadataVersion());
    float version = 0;
    if (metadataVersion && !ParseFloat(*metadataVersion, version))
      throw boost::bad_lexical_cast(typeid(std::wstring), typeid(float));
  }
  if (LastSaveTimeDiffers()) return true;
  return LastAuthorDiffers();
}

bool StragglerDetector::LastSaveTimeDiffers() const {
  try {
    const boost::posix_time::ptime lastSaved = properties.GetDateProperty(Names().LastSaveTime);
    const boost::posix_time::ptime mark = properties.GetDateProperty(Names().SorrelSave);
    if (lastSaved.is_not_a_date_time() || mark.is_not_a_date_time()) return false;
    return lastSaved != mark;
  } catch (const std::runtime_error&) {
    return false;
  }
}

bool StragglerDetector::LastAuthorDiffers() const {
  try {
    const TextHandle lastAuthor = properties.GetProperty(Names().LastAuthor);
    const TextHandle mark = properties.GetProperty(Names().LastSavedBy);
    if (!lastAuthor || !mark) return false;
    return *lastAuthor != *mark;
  } catch (const std::runtime_error&) {
    return false;
  }
}

void StragglerDetector::RecordSaveMarks() {
  boost::posix_time::ptime lastSaved = properties.GetDateProperty(Names().LastSaveTime);
  if (lastSaved.is_not_a_date_time()) lastSaved = StampLastSaveTime();
  // Removed first so the date write accepts whatever type the old mark had.
  properties.RemoveProperty(Names().SorrelSave);
  properties.SetDateProperty(Names().SorrelSave, lastSaved);
  properties.RemoveProperty(Names().LastSavedBy);
  const TextHandle lastAuthor = properties.GetProperty(Names().LastAuthor);
  if (lastAuthor) properties.SetProperty(Names().LastSavedBy, *lastAuthor);
}

void StragglerDetector::ClearSaveMarks() {
  properties.RemoveProperty(Names().SorrelSave);
  properties.RemoveProperty(Names().LastSavedBy);
  properties.RemoveProperty(Names().Tripwire);
}

void StragglerDetector::RecordStragglerVersion(IProperties* target) {
  // The new version is made on a copy: CreateNewVersion is not undone when a
  // step fails. CopyTracking clears its destination before it reads the
  // record, so the record is first copied into a scratch set, where every
  // field is read and checked; the destination is touched only after that.
  Properties copy(properties);
  const std::wstring tripwire = ComputeTripwire(properties);
  FileStore(copy).CreateNewVersion(tripwire, std::wstring(), std::vector<std::wstring>());
  Properties checked;
  FileStore(copy).CopyTracking(checked);
  FileStore(checked).CopyTracking(target != nullptr ? *target : properties);
}

boost::posix_time::ptime StragglerDetector::StampLastSaveTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const boost::posix_time::ptime time = FromFileTime(now);
  properties.SetDateProperty(Names().LastSaveTime, time);
  return time;
}

// ---- The file-level check ------------------------------------------------

bool IsOfficeFileName(const std::wstring& name) {
  const std::locale locale;
  for (const wchar_t* extension : {L".doc", L".xls", L".ppt"})
    if (boost::iends_with(name, extension, locale)) return true;
  return false;
}

HRESULT CheckStraggler(const WCHAR* fileName, IProperties* target) {
  if (fileName == nullptr || !IsOfficeFileName(fileName)) return S_OK;
  IStorage* storage = nullptr;
  const HRESULT hr = StgOpenStorage(fileName, nullptr, target != nullptr ? kReadOnlyPassMode : kWritablePassMode,
                                    nullptr, 0, &storage);
  if (FAILED(hr)) return hr;
  if (storage == nullptr) return E_FAIL;
  try {
    DocfileProperties document(storage);  // takes the reference over
    Properties snapshot(document);
    if (!FileStore(snapshot).IsUntracked()) {
      StragglerDetector detector(document);
      if (detector.IsStraggler()) {
        detector.RecordStragglerVersion(target);
        detector.RecordSaveMarks();
      }
    }
    return S_OK;
  } catch (const std::exception&) {
    return S_FALSE;
  }
}

}  // namespace quorvane
