// Test tool for the cross-reading test: reads and writes the property sets of
// compound documents through the structured-storage calls alone
// (StgOpenStorage, IPropertySetStorage, IPropertyStorage). Built for Linux it
// goes through our engine, built for Windows through ole32, so one reader
// and one writer serve both sides.
//   qv_props_cross dump FILE...   the summary, document summary and
//                                 user-defined sets of each file
//   qv_props_cross write FILE CP [no-bool-double]
//                                 a new document whose summary and
//                                 user-defined sets have code page CP
//                                 (1252, 65001 or 1200, Unicode); the option
//                                 leaves out the VT_BOOL and VT_R8 properties,
//                                 which Wine's ole32 cannot write
// VT_LPSTR text crosses the interface in the ANSI code page (GetACP), which
// the storage converts from and to the set's code page. Failures of single
// calls are printed in the dump and do not stop it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DumpText.h"
#include "Win32Api.h"

namespace {

const DWORD kDocumentReadMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;
const DWORD kSetReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
const DWORD kSetCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
const PROPID kFirstNameId = 4096;

struct NamedSet {
  const char* name;
  const FMTID* fmtid;
};
const NamedSet kSets[] = {{"summary", &FMTID_SummaryInformation},
                          {"document", &FMTID_DocSummaryInformation},
                          {"user", &FMTID_UserDefinedProperties}};

std::wstring Wide(const char* utf8) {
  const int length = static_cast<int>(std::strlen(utf8));
  std::wstring wide(length, L'\0');
  if (length) wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8, length, &wide[0], length));
  return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  std::string out(text.size() * 4, '\0');
  if (!text.empty())
    out.resize(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()), nullptr, nullptr));
  return out;
}

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

void DumpSet(IPropertySetStorage* sets, const NamedSet& which) {
  IPropertyStorage* set = nullptr;
  HRESULT hr = sets->Open(*which.fmtid, kSetReadMode, &set);
  if (hr == STG_E_FILENOTFOUND) return;
  if (FAILED(hr)) {
    std::printf("set %s open 0x%08X\n", which.name, static_cast<unsigned>(hr));
    return;
  }
  PROPSPEC spec;
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = PID_CODEPAGE;
  PROPVARIANT value;
  std::memset(&value, 0, sizeof value);
  hr = set->ReadMultiple(1, &spec, &value);
  const UINT codePage = hr == S_OK && value.vt == VT_I2 ? static_cast<USHORT>(value.iVal) : 0;
  PropVariantClear(&value);
  std::printf("set %s cp=%u\n", which.name, codePage);

  struct Entry {
    PROPID id;
    std::wstring name;
    bool named;
  };
  std::vector<Entry> entries;
  IEnumSTATPROPSTG* list = nullptr;
  hr = set->Enum(&list);
  if (FAILED(hr)) std::printf("enum 0x%08X\n", static_cast<unsigned>(hr));
  for (STATPROPSTG stat; list && list->Next(1, &stat, nullptr) == S_OK;) {
    entries.push_back({stat.propid, stat.lpwstrName ? stat.lpwstrName : L"", stat.lpwstrName != nullptr});
    CoTaskMemFree(stat.lpwstrName);
  }
  Release(list);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
  // VT_LPSTR values cross the interface in the ANSI code page, whatever the set's.
  const UINT lpstrCodePage = GetACP();
  for (const Entry& e : entries) {
    if (e.id <= PID_CODEPAGE || e.id >= 0x80000000u) continue;  // dictionary, code page, locale, behaviour
    spec.propid = e.id;
    std::memset(&value, 0, sizeof value);
    hr = set->ReadMultiple(1, &spec, &value);
    const std::string name = e.named ? "\"" + qvdump::Escape(e.name) + "\"" : "-";
    if (hr != S_OK)
      std::printf("prop %u %s read 0x%08X\n", static_cast<unsigned>(e.id), name.c_str(), static_cast<unsigned>(hr));
    else
      std::printf("prop %u %s vt=%u %s\n", static_cast<unsigned>(e.id), name.c_str(), value.vt,
                  qvdump::Value(value, lpstrCodePage).c_str());
    PropVariantClear(&value);
  }
  Release(set);
}

int Dump(int count, char** files) {
  for (int i = 0; i < count; ++i) {
    const char* base = std::strrchr(files[i], '/');
    std::printf("file %s\n", base ? base + 1 : files[i]);
    IStorage* storage = nullptr;
    HRESULT hr = StgOpenStorage(Wide(files[i]).c_str(), nullptr, kDocumentReadMode, nullptr, 0, &storage);
    if (FAILED(hr)) {
      std::printf("open 0x%08X\n", static_cast<unsigned>(hr));
      continue;
    }
    IPropertySetStorage* sets = nullptr;
    hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
    if (FAILED(hr)) std::printf("property sets 0x%08X\n", static_cast<unsigned>(hr));
    for (const NamedSet& which : kSets)
      if (sets) DumpSet(sets, which);
    Release(sets);
    Release(storage);
  }
  return 0;
}

// One property to write: by id, or by name when `name` is set.
struct Item {
  PROPID id;
  const char* name;  // UTF-8
  PROPVARIANT value;
};

PROPVARIANT Text(const std::wstring& text, UINT codePage, std::vector<std::string>& narrow,
                 std::vector<std::wstring>& wide) {
  PROPVARIANT v;
  std::memset(&v, 0, sizeof v);
  if (codePage == 1200) {
    wide.push_back(text);
    v.vt = VT_LPWSTR;
    v.pwszVal = &wide.back()[0];
  } else {
    narrow.push_back(Narrow(text, GetACP()));
    v.vt = VT_LPSTR;
    v.pszVal = &narrow.back()[0];
  }
  return v;
}

void WriteSet(IPropertySetStorage* sets, const NamedSet& which, UINT codePage, const std::vector<Item>& items) {
  IPropertyStorage* set = nullptr;
  const DWORD flags = codePage == 1200 ? PROPSETFLAG_DEFAULT : PROPSETFLAG_ANSI;
  HRESULT hr = sets->Create(*which.fmtid, which.fmtid, flags, kSetCreateMode, &set);
  if (FAILED(hr)) {
    std::printf("write %s create 0x%08X\n", which.name, static_cast<unsigned>(hr));
    return;
  }
  PROPSPEC spec;
  if (codePage != 1200) {
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PID_CODEPAGE;
    PROPVARIANT cp;
    std::memset(&cp, 0, sizeof cp);
    cp.vt = VT_I2;
    cp.iVal = static_cast<SHORT>(codePage);
    hr = set->WriteMultiple(1, &spec, &cp, kFirstNameId);
    if (hr != S_OK) std::printf("write %s code page 0x%08X\n", which.name, static_cast<unsigned>(hr));
  }
  for (const Item& item : items) {
    std::wstring name;
    if (item.name) {
      name = Wide(item.name);
      spec.ulKind = PRSPEC_LPWSTR;
      spec.lpwstr = &name[0];
    } else {
      spec.ulKind = PRSPEC_PROPID;
      spec.propid = item.id;
    }
    hr = set->WriteMultiple(1, &spec, &item.value, kFirstNameId);
    if (hr != S_OK)
      std::printf("write %s %s 0x%08X\n", which.name, item.name ? item.name : std::to_string(item.id).c_str(),
                  static_cast<unsigned>(hr));
  }
  hr = set->Commit(STGC_DEFAULT);
  if (hr != S_OK) std::printf("write %s commit 0x%08X\n", which.name, static_cast<unsigned>(hr));
  Release(set);
}

int Write(const char* file, UINT codePage, bool boolAndDouble) {
  IStorage* storage = nullptr;
  HRESULT hr = StgCreateDocfile(Wide(file).c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage);
  if (FAILED(hr)) {
    std::printf("create 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  IPropertySetStorage* sets = nullptr;
  hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
  if (FAILED(hr)) {
    std::printf("property sets 0x%08X\n", static_cast<unsigned>(hr));
    Release(storage);
    return 1;
  }
  std::vector<std::string> narrow;
  std::vector<std::wstring> wide;
  narrow.reserve(8);
  wide.reserve(8);
  PROPVARIANT when, count, flag, ratio, unicode;
  std::memset(&when, 0, sizeof when);
  when.vt = VT_FILETIME;  // 2024-02-29 12:34:56.789 UTC
  const uint64_t ticks = (uint64_t(1709210096789) + uint64_t(11644473600000)) * 10000;
  when.filetime.dwLowDateTime = static_cast<DWORD>(ticks);
  when.filetime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  std::memset(&count, 0, sizeof count);
  count.vt = VT_I4;
  count.lVal = -5;
  std::memset(&flag, 0, sizeof flag);
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  std::memset(&ratio, 0, sizeof ratio);
  ratio.vt = VT_R8;
  ratio.dblVal = 0.25;
  std::wstring chinese = L"\u4e2d\u6587 \U0001F600";
  std::memset(&unicode, 0, sizeof unicode);
  unicode.vt = VT_LPWSTR;
  unicode.pwszVal = &chinese[0];

  const std::wstring latin = L"Caf\u00e9 \u20ac 1";
  const std::vector<Item> summary = {{PIDSI_TITLE, nullptr, Text(latin, codePage, narrow, wide)},
                                     {PIDSI_AUTHOR, nullptr, Text(L"Zo\u00eb", codePage, narrow, wide)},
                                     {PIDSI_LASTSAVE_DTM, nullptr, when},
                                     {PIDSI_PAGECOUNT, nullptr, count}};
  std::vector<Item> user = {{0, "Client", Text(latin, codePage, narrow, wide)},
                                  {0, "Nom \xC3\xA9t\xC3\xA9", unicode},
                                  {0, "Count", count},
                                  {0, "Due", when}};
  if (boolAndDouble) {
    user.push_back({0, "Flag", flag});
    user.push_back({0, "Ratio", ratio});
  }
  WriteSet(sets, kSets[0], codePage, summary);
  WriteSet(sets, kSets[2], codePage, user);
  Release(sets);
  hr = storage->Commit(STGC_DEFAULT);
  if (hr != S_OK) std::printf("commit 0x%08X\n", static_cast<unsigned>(hr));
  Release(storage);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) return Dump(argc - 2, argv + 2);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "write") == 0)
    return Write(argv[2], static_cast<UINT>(std::atoi(argv[3])), argc == 4);
  std::fprintf(stderr, "usage: %s dump FILE... | write FILE CODEPAGE\n", argv[0]);
  return 2;
}
