// cross_read.py's tool: structured-storage calls alone, so the Linux build runs our engine, the Windows one ole32.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "DumpText.h"
#include "Win32Api.h"

namespace {

using qvdump::Com;
using qvdump::Var;

const PROPID kFirstNameId = 4096;
struct NamedSet {
  const char* name;
  const FMTID* fmtid;
};
const NamedSet kSets[] = {{"summary", &FMTID_SummaryInformation},
                          {"document", &FMTID_DocSummaryInformation},
                          {"user", &FMTID_UserDefinedProperties}};

// Prints "WHAT 0xHRESULT" for anything but S_OK.
bool Failed(HRESULT hr, const std::string& what) {
  if (hr != S_OK) std::printf("%s %s\n", what.c_str(), qvdump::Hex(hr).c_str());
  return hr != S_OK;
}

void DumpSet(IPropertySetStorage* sets, const NamedSet& which) {
  Com<IPropertyStorage> set;
  const HRESULT hr = sets->Open(*which.fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, &set.p);
  if (hr == STG_E_FILENOTFOUND || Failed(hr, std::string("set ") + which.name + " open")) return;
  PROPSPEC spec = {PRSPEC_PROPID, {PID_CODEPAGE}};
  PROPVARIANT value = Var(VT_EMPTY);
  const bool hasCodePage = set->ReadMultiple(1, &spec, &value) == S_OK && value.vt == VT_I2;
  std::printf("set %s cp=%u\n", which.name, hasCodePage ? static_cast<USHORT>(value.iVal) : 0u);
  PropVariantClear(&value);
  std::map<PROPID, std::string> names;  // by id; "-" for an unnamed property
  Com<IEnumSTATPROPSTG> list;
  Failed(set->Enum(&list.p), "enum");
  for (STATPROPSTG stat; list.p && list->Next(1, &stat, nullptr) == S_OK; CoTaskMemFree(stat.lpwstrName))
    names[stat.propid] = stat.lpwstrName ? "\"" + qvdump::Escape(stat.lpwstrName) + "\"" : "-";
  for (const auto& [id, name] : names) {
    if (id <= PID_CODEPAGE || id >= 0x80000000u) continue;  // dictionary, code page, locale, behaviour
    spec.propid = id;
    const HRESULT read = set->ReadMultiple(1, &spec, &value);
    const std::string text = read != S_OK ? "read " + qvdump::Hex(read)
                                          : "vt=" + std::to_string(value.vt) + " " + qvdump::Value(value, GetACP());
    std::printf("prop %u %s %s\n", static_cast<unsigned>(id), name.c_str(), text.c_str());
    PropVariantClear(&value);
  }
}

int Dump(int count, char** files) {
  for (int i = 0; i < count; ++i) {
    const char* base = std::strrchr(files[i], '/');
    std::printf("file %s\n", base ? base + 1 : files[i]);
    Com<IStorage> storage;
    Com<IPropertySetStorage> sets;
    const DWORD mode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;
    if (Failed(StgOpenStorage(qvdump::Wide(files[i]).c_str(), nullptr, mode, nullptr, 0, &storage.p), "open") ||
        Failed(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets.p)), "property sets"))
      continue;
    for (const NamedSet& which : kSets) DumpSet(sets.p, which);
  }
  return 0;
}

// One property to write: by name when `name` is set, else by id.
struct Item {
  PROPID id;
  const wchar_t* name;
  PROPVARIANT value;
};

void WriteSet(IPropertySetStorage* sets, const NamedSet& which, UINT codePage, const std::vector<Item>& items) {
  const std::string what = std::string("write ") + which.name;
  Com<IPropertyStorage> set;
  if (Failed(sets->Create(*which.fmtid, which.fmtid, codePage == 1200 ? PROPSETFLAG_DEFAULT : PROPSETFLAG_ANSI,
                          STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set.p), what + " create"))
    return;
  PROPSPEC spec = {PRSPEC_PROPID, {PID_CODEPAGE}};
  PROPVARIANT cp = Var(VT_I2);
  cp.iVal = static_cast<SHORT>(codePage);
  if (codePage != 1200) Failed(set->WriteMultiple(1, &spec, &cp, kFirstNameId), what + " code page");
  for (const Item& item : items) {
    spec = {ULONG(item.name ? PRSPEC_LPWSTR : PRSPEC_PROPID), {item.id}};
    if (item.name) spec.lpwstr = const_cast<LPOLESTR>(item.name);
    Failed(set->WriteMultiple(1, &spec, &item.value, kFirstNameId),
           what + " " + (item.name ? qvdump::Escape(item.name) : std::to_string(item.id)));
  }
  Failed(set->Commit(STGC_DEFAULT), what + " commit");
}

int Write(const char* file, UINT codePage, bool boolAndDouble) {
  Com<IStorage> storage;
  Com<IPropertySetStorage> sets;
  const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  if (Failed(StgCreateDocfile(qvdump::Wide(file).c_str(), mode, 0, &storage.p), "create") ||
      Failed(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets.p)), "property sets"))
    return 1;
  // Text as the set holds it: VT_LPWSTR in a Unicode set, else VT_LPSTR in the ANSI code page.
  std::deque<std::string> narrow;
  std::deque<std::wstring> wide;
  const auto text = [&](const std::wstring& t) {
    PROPVARIANT v = Var(codePage == 1200 ? VT_LPWSTR : VT_LPSTR);
    std::string& n = narrow.emplace_back(t.size() * 4, '\0');
    n.resize(WideCharToMultiByte(GetACP(), 0, t.data(), int(t.size()), &n[0], int(n.size()), nullptr, nullptr));
    if (codePage == 1200) v.pwszVal = &wide.emplace_back(t)[0];
    else v.pszVal = &n[0];
    return v;
  };
  PROPVARIANT when = Var(VT_FILETIME), count = Var(VT_I4), flag = Var(VT_BOOL), ratio = Var(VT_R8),
              unicode = Var(VT_LPWSTR);
  const uint64_t ticks = (uint64_t(1709210096789) + uint64_t(11644473600000)) * 10000;  // 2024-02-29 12:34:56.789
  when.filetime.dwLowDateTime = static_cast<DWORD>(ticks);
  when.filetime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  count.lVal = -5;
  flag.boolVal = VARIANT_TRUE;
  ratio.dblVal = 0.25;
  std::wstring chinese = L"\u4e2d\u6587 \U0001F600";
  unicode.pwszVal = &chinese[0];
  const std::wstring latin = L"Caf\u00e9 \u20ac 1";
  WriteSet(sets.p, kSets[0], codePage, {{PIDSI_TITLE, nullptr, text(latin)}, {PIDSI_AUTHOR, nullptr, text(L"Zo\u00eb")},
                                       {PIDSI_LASTSAVE_DTM, nullptr, when}, {PIDSI_PAGECOUNT, nullptr, count}});
  std::vector<Item> user = {
      {0, L"Client", text(latin)}, {0, L"Nom \u00e9t\u00e9", unicode}, {0, L"Count", count}, {0, L"Due", when}};
  if (boolAndDouble) user.insert(user.end(), {{0, L"Flag", flag}, {0, L"Ratio", ratio}});
  WriteSet(sets.p, kSets[2], codePage, user);
  Failed(storage->Commit(STGC_DEFAULT), "commit");
  return 0;
}

// What waiting for the writer lock answers, on a file opened as the library's writing methods open it.
int WriteLock(int count, char** files) {
  for (int i = 0; i < count; ++i) {
    const char* base = std::strrchr(files[i], '/');
    std::printf("file %s\n", base ? base + 1 : files[i]);
    Com<IStorage> storage;
    Com<IDirectWriterLock> lock;
    const DWORD mode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;
    HRESULT hr = StgOpenStorage(qvdump::Wide(files[i]).c_str(), nullptr, mode, nullptr, 0, &storage.p);
    if (SUCCEEDED(hr)) hr = storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock.p));
    if (SUCCEEDED(hr)) hr = lock->WaitForWriteAccess(0);
    if (hr == S_OK) lock->ReleaseWriteAccess();
    std::printf("writelock %s\n", qvdump::Hex(hr).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) return Dump(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "writelock") == 0) return WriteLock(argc - 2, argv + 2);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "write") == 0)  // Wine's ole32 cannot write VT_BOOL or VT_R8
    return Write(argv[2], static_cast<UINT>(std::atoi(argv[3])), argc == 4);
  std::fprintf(stderr, "usage: %s dump FILE... | writelock FILE... | write FILE CODEPAGE [no-bool-double]\n", argv[0]);
  return 2;
}
