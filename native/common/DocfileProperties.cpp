// Boost first: strsafe.h on Windows poisons the sprintf family that
// lexical_cast uses.
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/lexical_cast.hpp>
#include <cstring>
#include <memory>

#include "DocfileProperties.h"

#include "ComHandle.h"
#include "DateTime.h"
#include "ExceptionReport.h"
#include "NarrowText.h"

namespace quorvane {

namespace {

// The lowest id the storage may give a new named property.
const PROPID MinimumId = 4096;

const DWORD kReadMode = STGM_SIMPLE | STGM_SHARE_EXCLUSIVE;
const DWORD kWriteMode = STGM_SIMPLE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE;

// No locale counts an ASCII character other than 0-9 as a digit: the common
// case is answered without the locale's classification.
bool IsNumericName(std::wstring_view name) {
  if (!name.empty() && name[0] < 0x80 && (name[0] < L'0' || name[0] > L'9')) return false;
  return boost::all(name, boost::is_digit());
}

const FMTID& PropertySetOf(const std::wstring& name) {
  return IsNumericName(name) ? FMTID_SummaryInformation : FMTID_UserDefinedProperties;
}

// The name as the platform addresses it. Parsed only after its set was
// opened: a numeric name that does not fit 32 bits throws bad_lexical_cast.
PROPSPEC SpecOf(const std::wstring& name) {
  PROPSPEC spec;
  std::memset(&spec, 0, sizeof spec);
  if (IsNumericName(name)) {
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = boost::lexical_cast<ULONG>(name) + 1;
  } else {
    spec.ulKind = PRSPEC_LPWSTR;
    spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
  }
  return spec;
}

PROPVARIANT EmptyValue() {
  PROPVARIANT value;
  std::memset(&value, 0, sizeof value);
  return value;
}

struct TaskMemFree {
  void operator()(void* memory) const { CoTaskMemFree(memory); }
};

// Clears a value read from the storage when the scope ends.
class ClearedValue {
 public:
  explicit ClearedValue(const PROPVARIANT& value) : value(value) {}
  ~ClearedValue() { PropVariantClear(&value); }
  ClearedValue(const ClearedValue&) = delete;
  ClearedValue& operator=(const ClearedValue&) = delete;
  PROPVARIANT value;
};

// A set without a code page, and the ANSI code page of the Windows machines
// whose tripwires ours must match (Western Windows).
const UINT kDefaultCodePage = 1252;

#ifndef _WIN32
// The characters Windows' typed access makes of text stored in codePage: the
// text's bytes in that code page, each as one character. A Unicode set
// reaches it through the ANSI code page.
std::wstring BytewiseText(const std::wstring& text, UINT codePage) {
  if (codePage == 1200) codePage = kDefaultCodePage;
  if (text.empty()) return text;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return text;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, 0, text.data(), length, &bytes[0], size, nullptr, nullptr) != size) return text;
  std::wstring wide(bytes.size(), L'\0');
  for (size_t i = 0; i < bytes.size(); ++i) wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
  return wide;
}
#endif

}  // namespace

DocfileProperties::DocfileProperties(IStorage* storage) {
  CHECK(logic_error, storage);
  this->storage = AdoptCom(storage);
}

DocfileProperties::DocfileProperties(IStorage* storage, IPropertyStorage* userSet, IPropertyStorage* summarySet)
    : DocfileProperties(storage) {
  CHECK(logic_error, userSet);
  this->userSet = userSet;
  this->summarySet = summarySet;
}

DocfileProperties::PropertyStorageHandle DocfileProperties::CreatePropertySet(IPropertySetStorage* propertySetStorage,
                                                                              const FMTID& fmtid) const {
  IPropertyStorage* created = nullptr;
  const HRESULT hr =
      propertySetStorage->Create(fmtid, &fmtid, PROPSETFLAG_ANSI, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &created);
  PropertyStorageHandle properties = AdoptCom(created);
  if (FAILED(hr)) RAISE("Couldn't create property set " + std::to_string(hr));
  CHECK(runtime_error, properties);
  return properties;
}

DocfileProperties::PropertyStorageHandle DocfileProperties::OpenPropertySet(const FMTID& fmtid, bool readOnly) const {
  IPropertyStorage* held = fmtid == FMTID_UserDefinedProperties ? userSet : fmtid == FMTID_SummaryInformation ? summarySet : nullptr;
  if (held) {
    held->AddRef();
    return AdoptCom(held);
  }
  IPropertySetStorage* rawPropertySetStorage = nullptr;
  storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&rawPropertySetStorage));
  const boost::shared_ptr<IPropertySetStorage> propertySetStorage = AdoptCom(rawPropertySetStorage);
  if (!propertySetStorage) return PropertyStorageHandle();

  IPropertyStorage* opened = nullptr;
  const HRESULT hr = propertySetStorage->Open(fmtid, readOnly ? kReadMode : kWriteMode, &opened);
  PropertyStorageHandle properties = AdoptCom(opened);
  if (hr == STG_E_FILENOTFOUND) {
    if (readOnly) return PropertyStorageHandle();
    return CreatePropertySet(propertySetStorage.get(), fmtid);
  }
  if (hr != S_OK) RAISE("Couldn't open property set " + std::to_string(hr));
  CHECK(runtime_error, properties);
  return properties;
}

PROPVARIANT DocfileProperties::ReadValue(const std::wstring& name) const {
  PROPVARIANT value = EmptyValue();
  const PropertyStorageHandle properties = OpenPropertySet(PropertySetOf(name), true);
  if (!properties) return value;
  const PROPSPEC property = SpecOf(name);
  // A failed read counts as a missing property.
  if (FAILED(properties->ReadMultiple(1, &property, &value))) value = EmptyValue();
  return value;
}

void DocfileProperties::WriteValue(const std::wstring& name, const PROPVARIANT& value) {
  const PropertyStorageHandle properties = OpenPropertySet(PropertySetOf(name), false);
  CHECK(runtime_error, properties);
  const PROPSPEC property = SpecOf(name);
  CHECK(runtime_error, properties->WriteMultiple(1, &property, &value, MinimumId) == S_OK);
}

TextHandle DocfileProperties::GetProperty(const std::wstring& name) const {
  const ClearedValue read(ReadValue(name));
  switch (read.value.vt) {
    case VT_EMPTY:
      return TextHandle();
    case VT_LPSTR:
      return TextHandle(new std::wstring(PropertyTextToWide(read.value.pszVal != nullptr ? read.value.pszVal : "")));
    case VT_I4:
      return TextHandle(new std::wstring(std::to_wstring(read.value.lVal)));
    default:
      RAISE(ToNarrow(name) + " is not a string property");
  }
}

void DocfileProperties::SetProperty(const std::wstring& name, const std::wstring& value) {
  GetProperty(name);
  std::string narrow = PropertyTextToNarrow(value);
  PROPVARIANT text = EmptyValue();
  text.vt = VT_LPSTR;
  // Points into narrow, which owns it: the value is never cleared.
  text.pszVal = &narrow[0];
  WriteValue(name, text);
}

boost::posix_time::ptime DocfileProperties::GetDateProperty(const std::wstring& name) const {
  const ClearedValue read(ReadValue(name));
  switch (read.value.vt) {
    case VT_EMPTY:
      return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    case VT_FILETIME:
      // Whole milliseconds, the precision SetDateProperty writes: a save time
      // with finer ticks (LibreOffice writes 100 ns) must still equal the
      // mark laid from it.
      return WholeMilliseconds(FromFileTime(read.value.filetime));
    default:
      RAISE(ToNarrow(name) + " is not a datetime property");
  }
}

void DocfileProperties::SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) {
  GetDateProperty(name);
  const SYSTEMTIME systemTime = ToSystemTime(value);
  PROPVARIANT time = EmptyValue();
  time.vt = VT_FILETIME;
  // Dates before 1601 have no FILETIME.
  CHECK(invalid_argument, SystemTimeToFileTime(&systemTime, &time.filetime));
  WriteValue(name, time);
}

void DocfileProperties::RemoveProperty(const std::wstring& name) {
  const PropertyStorageHandle properties = OpenPropertySet(PropertySetOf(name), false);
  CHECK(runtime_error, properties);
  const PROPSPEC propSpec = SpecOf(name);
  CHECK(runtime_error, properties->DeleteMultiple(1, &propSpec) == S_OK);
}

TextHandle DocfileProperties::GetStoredText(const std::wstring& name) const {
  const TextHandle text = GetProperty(name);
#ifdef _WIN32
  return text;
#else
  if (!text) return text;
  return TextHandle(new std::wstring(BytewiseText(*text, StoredCodePage(PropertySetOf(name)))));
#endif
}

UINT DocfileProperties::StoredCodePage(const FMTID& fmtid) const {
  const PropertyStorageHandle properties = OpenPropertySet(fmtid, true);
  if (!properties) return kDefaultCodePage;
  PROPSPEC spec;
  std::memset(&spec, 0, sizeof spec);
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = PID_CODEPAGE;
  ClearedValue read(EmptyValue());
  if (FAILED(properties->ReadMultiple(1, &spec, &read.value)) || read.value.vt != VT_I2) return kDefaultCodePage;
  return static_cast<UINT>(static_cast<unsigned short>(read.value.iVal));
}

bool DocfileProperties::CopiesPurely(std::wstring_view name) const { return !IsNumericName(name); }

bool DocfileProperties::HasProperty(const std::wstring& name) const {
  const ClearedValue read(ReadValue(name));
  return read.value.vt != VT_EMPTY;
}

NameList DocfileProperties::GetPropertyNames() const {
  NameList names(new std::vector<std::wstring>());
  VisitPropertyNames([&](std::wstring_view name) { names->emplace_back(name); });
  return names;
}

void DocfileProperties::VisitPropertyNames(const std::function<void(std::wstring_view)>& visit) const {
  const PropertyStorageHandle properties = OpenPropertySet(FMTID_UserDefinedProperties, true);
  if (!properties) return;

  IEnumSTATPROPSTG* rawEnumerator = nullptr;
  CHECK(runtime_error, SUCCEEDED(properties->Enum(&rawEnumerator)));
  const boost::shared_ptr<IEnumSTATPROPSTG> enumerator = AdoptCom(rawEnumerator);
  CHECK(runtime_error, enumerator);

  // In batches: a set of thousands is a few calls, not one per name.
  const ULONG kBatch = 64;
  STATPROPSTG entries[kBatch];
  HRESULT hr = S_OK;
  while (hr == S_OK) {
    ULONG fetched = 0;
    std::memset(entries, 0, sizeof entries);
    hr = enumerator->Next(kBatch, entries, &fetched);
    if (hr != S_OK && hr != S_FALSE) break;
    std::unique_ptr<OLECHAR, TaskMemFree> names[kBatch];  // all freed, whatever visit does
    for (ULONG i = 0; i < fetched && i < kBatch; ++i) names[i].reset(entries[i].lpwstrName);
    for (ULONG i = 0; i < fetched && i < kBatch; ++i)
      if (names[i]) visit(names[i].get());
  }
}

}  // namespace quorvane
