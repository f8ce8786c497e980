#include "PropertySetTransfer.h"

#include <cwchar>
#include <string>
#include <vector>

#include "util.h"

namespace quorvane {
namespace jni {

const WCHAR* const DeletionMarker = L"##DEL##";

namespace {

// FormatFileTime's text needs 20 characters; callers give it 25.
const size_t kFileTimeTextChars = 25;

struct SummaryName {
  PROPID id;
  const WCHAR* name;
};

const SummaryName kSummaryNames[] = {
    {PIDSI_TITLE, L"PIDSI_TITLE"},           {PIDSI_SUBJECT, L"PIDSI_SUBJECT"},
    {PIDSI_AUTHOR, L"PIDSI_AUTHOR"},         {PIDSI_KEYWORDS, L"PIDSI_KEYWORDS"},
    {PIDSI_COMMENTS, L"PIDSI_COMMENTS"},     {PIDSI_TEMPLATE, L"PIDSI_TEMPLATE"},
    {PIDSI_LASTAUTHOR, L"PIDSI_LASTAUTHOR"}, {PIDSI_REVNUMBER, L"PIDSI_REVNUMBER"},
    {PIDSI_EDITTIME, L"PIDSI_EDITTIME"},     {PIDSI_LASTPRINTED, L"PIDSI_LASTPRINTED"},
    {PIDSI_CREATE_DTM, L"PIDSI_CREATE_DTM"}, {PIDSI_LASTSAVE_DTM, L"PIDSI_LASTSAVE_DTM"},
    {PIDSI_APPNAME, L"PIDSI_APPNAME"},
};

// The text in the system ANSI code page, up to its first NUL and with a
// terminator, appended to `out`.
void NarrowAppend(std::string& out, const wchar_t* text) {
  // Every ANSI code page holds ASCII as ASCII: most text needs no converter.
  size_t ascii = 0;
  while (text[ascii] != 0 && static_cast<unsigned long>(text[ascii]) < 0x80) ++ascii;
  const size_t at = out.size();
  if (text[ascii] == 0) {
    out.resize(at + ascii + 1);
    for (size_t i = 0; i <= ascii; ++i) out[at + i] = static_cast<char>(text[i]);
    return;
  }
  // Enough for any code page's longest form of each character.
  out.resize(at + 4 * std::wcslen(text) + 1);
  const int written =
      WideCharToMultiByte(CP_ACP, 0, text, -1, &out[at], static_cast<int>(out.size() - at), nullptr, nullptr);
  if (written <= 0) throw HResultException(HRESULT_FROM_WIN32(GetLastError()));
  out.resize(at + static_cast<size_t>(written));
}

}  // namespace

const WCHAR* SummaryPropertyName(const STATPROPSTG& entry) {
  if (entry.lpwstrName != nullptr) return entry.lpwstrName;
  for (const SummaryName& known : kSummaryNames)
    if (known.id == entry.propid) return known.name;
  return L"(Unknown)";
}

PROPID SummaryPropertyId(const std::wstring& name) {
  for (const SummaryName& known : kSummaryNames)
    if (name == known.name) return known.id;
  return 0;
}

// ---- PropertySet <-> Java ------------------------------------------------

void PropertySet::ReadInto(PropertiesWrapper& target) const {
  PropertyEnumeration entries(properties);
  PropVariantArray value(1);  // each entry's, freed before the next is read
  ULONG seen = 0;
  STATPROPSTG entry;
  while (entries.Next(entry)) {
    ++seen;
    // Neither text nor a date: not read (a thumbnail may be half a megabyte).
    if (entry.vt == VT_CF || entry.vt == VT_BLOB || entry.vt == VT_BLOB_OBJECT) continue;
    entries.ReadValue(entry, value);
    const PROPVARIANT& read = value[0];
    if (read.vt == VT_LPSTR) {
      if (read.pszVal != nullptr) target.SetText(SummaryPropertyName(entry), read.pszVal);
    } else if (read.vt == VT_FILETIME) {
      char text[kFileTimeTextChars];
      FormatFileTime(read.filetime, text, kFileTimeTextChars);
      target.SetText(SummaryPropertyName(entry), text);
    }
  }
  if (seen == 0) throw HResultException(S_FALSE);
}

std::vector<std::wstring> PropertySet::WriteFrom(const JavaEntries& entries) {
  // The deletions (as VT_EMPTY) and the texts are one WriteMultiple, which
  // the set applies whole or not at all: a refused write deletes nothing.
  // Names are lent from the entries and the texts share one buffer, so a set
  // of thousands costs no allocation per property. Both arrays start zeroed.
  const size_t keys = entries.Size();
  std::vector<PROPSPEC> names(keys);
  std::vector<PROPVARIANT> values(keys);
  std::vector<size_t> textAt(keys);
  std::string texts;
  std::vector<std::wstring> deleted;
  ULONG count = 0;
  for (size_t i = 0; i < keys; ++i) {
    if (!entries.HasValue(i)) continue;
    names[count].ulKind = PRSPEC_LPWSTR;
    names[count].lpwstr = const_cast<LPOLESTR>(entries.KeyChars(i));
    if (entries.Value(i) == DeletionMarker) {
      values[count].vt = VT_EMPTY;
      deleted.emplace_back(entries.Key(i));
    } else {
      values[count].vt = VT_LPSTR;
      textAt[count] = texts.size();
      NarrowAppend(texts, entries.ValueChars(i));
    }
    ++count;
  }
  for (ULONG i = 0; i < count; ++i)
    if (values[i].vt == VT_LPSTR) values[i].pszVal = &texts[textAt[i]];
  if (count > 0) ThrowIfFailed(properties->WriteMultiple(count, names.data(), values.data(), MinimumId));
  // After the change, so the Unicode set is rewritten once, with it. A
  // transacted rewrite reads the change from the open set and reaches the
  // document with it in one commit; a direct one reopens the set, so what
  // the open holds goes in first.
  if (IsUnicode()) {
    if (!transacted) ThrowIfFailed(properties->Commit(STGC_DEFAULT));
    ConvertToAnsi();
  }
  return deleted;
}

// ---- Summary -> user-defined ---------------------------------------------

void CopySummaryToUser(PropertySet& summary, PropertySet& user, PropertiesWrapper& mapping) {
  const NameList keys = mapping.GetPropertyNames();
  const size_t count = keys->size();
  if (count == 0) return;
  std::vector<PropertyName> names(count);
  for (size_t i = 0; i < count; ++i) names[i].SetId(SummaryPropertyId((*keys)[i]));
  PropVariantArray values(count);
  ThrowIfFailed(summary.Properties()->ReadMultiple(static_cast<ULONG>(count), names.data(), values.data()));

  // The same keys, in the same order, now naming the user-defined targets.
  // All of them go to the write: a missing or empty target name is the
  // platform's to refuse, and then nothing is written.
  for (size_t i = 0; i < count; ++i) {
    const TextHandle target = mapping.GetProperty((*keys)[i]);
    names[i].SetName(target ? target->c_str() : nullptr);
  }
  ThrowIfFailed(user.Properties()->WriteMultiple(static_cast<ULONG>(count), names.data(), values.data(), MinimumId));
}

}  // namespace jni
}  // namespace quorvane
