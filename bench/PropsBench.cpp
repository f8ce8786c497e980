// User-defined sets of 1,000 to 4,000 text properties on a real document,
// through the calls setCompoundDocumentUserProperties makes below the JNI
// boundary: open for writing, the user-defined set opened transacted, the
// tracking check through the typed access over it (a lazy snapshot: one
// enumeration, a read per name asked), one WriteMultiple of the whole set
// with one value changed, Commit. Also the typed access alone
// writing one property, and a read of the whole set (Enum + ReadMultiple per
// property, as getCompoundDocumentUserProperties does). Also the summary and
// user-defined sets of LibreOffice's .ppt, whose summary set carries a
// ~450 KB thumbnail that a read never asks for.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "DocfileProperties.h"
#include "NarrowText.h"
#include "Properties.h"
#include "Win32Api.h"

namespace {

const DWORD kWriteMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;
const DWORD kReadMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;

std::wstring Name(size_t i) { return L"Field" + std::to_wstring(i); }

// Opened for writing as the library opens a document: then its writer lock.
HRESULT OpenForWriting(const std::wstring& path, IStorage** storage) {
  HRESULT hr = StgOpenStorage(path.c_str(), nullptr, kWriteMode, nullptr, 0, storage);
  if (FAILED(hr)) return hr;
  IDirectWriterLock* lock = nullptr;
  hr = (*storage)->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock));
  if (SUCCEEDED(hr)) hr = lock->WaitForWriteAccess(5000);
  if (lock) lock->Release();  // the access stays with the storage until it goes
  if (FAILED(hr)) (*storage)->Release();
  return hr;
}

// One ANSI text value per name; a PROPVARIANT array that points into `texts`.
struct TextSet {
  std::vector<std::wstring> names;
  std::vector<std::string> texts;
  std::vector<PROPSPEC> specs;
  std::vector<PROPVARIANT> values;
  explicit TextSet(size_t count) : names(count), texts(count), specs(count), values(count) {
    for (size_t i = 0; i < count; ++i) {
      names[i] = Name(i);
      texts[i] = "value number " + std::to_string(i);
    }
    Point();
  }
  void Point() {
    for (size_t i = 0; i < names.size(); ++i) {
      specs[i].ulKind = PRSPEC_LPWSTR;
      specs[i].lpwstr = const_cast<LPOLESTR>(names[i].c_str());
      values[i] = PROPVARIANT();
      values[i].vt = VT_LPSTR;
      values[i].pszVal = &texts[i][0];
    }
  }
};

class Document {
 public:
  explicit Document(size_t count) {
    // TMPDIR on a memory file system leaves out the disk's syncs.
    const char* temp = getenv("TMPDIR");
    std::string pattern = std::string(temp ? temp : "/tmp") + "/qv-props-bench-XXXXXX";
    folder_ = mkdtemp(&pattern[0]);
    path_ = folder_ + "/props.doc";
    const char* source = getenv("QV_SOURCE_DIR");
    std::ifstream in(std::string(source ? source : ".") + "/tests/fixtures/compound/Office365BlankSample_v2507.doc",
                     std::ios::binary);
    std::ofstream(path_, std::ios::binary) << in.rdbuf();
    TextSet set(count);
    if (FAILED(WriteSet(set))) abort();
  }
  ~Document() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
  const std::wstring Path() const { return quorvane::ToWide(path_); }

  // Open for writing, snapshot, one WriteMultiple, Commit: the native part of
  // setCompoundDocumentUserProperties.
  HRESULT WriteSet(TextSet& set) const {
    IStorage* storage = nullptr;
    HRESULT hr = OpenForWriting(Path(), &storage);
    if (FAILED(hr)) return hr;
    const DWORD setMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED;
    IPropertySetStorage* sets = nullptr;
    IPropertyStorage* user = nullptr;
    hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
    if (SUCCEEDED(hr)) hr = sets->Open(FMTID_UserDefinedProperties, setMode, &user);
    if (hr == STG_E_FILENOTFOUND)
      hr = sets->Create(FMTID_UserDefinedProperties, &FMTID_UserDefinedProperties, PROPSETFLAG_ANSI, setMode, &user);
    if (SUCCEEDED(hr)) {
      storage->AddRef();
      quorvane::DocfileProperties typed(storage, user);
      const quorvane::LazySnapshot before(typed);
      benchmark::DoNotOptimize(before.GetProperty(L"Quorvane ExtendedVersionId"));
    }
    if (SUCCEEDED(hr))
      hr = user->WriteMultiple(static_cast<ULONG>(set.specs.size()), set.specs.data(), set.values.data(), 4096);
    if (SUCCEEDED(hr)) hr = user->Commit(STGC_DEFAULT);
    if (SUCCEEDED(hr)) hr = storage->Commit(STGC_DEFAULT);
    if (user) user->Release();
    if (sets) sets->Release();
    storage->Release();
    return hr;
  }

 private:
  std::string folder_, path_;
};

bool ReadOne(IPropertyStorage* set, PROPID id) {
  PROPSPEC spec;
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = id;
  PROPVARIANT value;
  const bool read = SUCCEEDED(set->ReadMultiple(1, &spec, &value));
  PropVariantClear(&value);
  return read;
}

void BM_WriteSetOneChanged(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  Document document(count);
  TextSet set(count);
  size_t i = 0;
  for (auto _ : state) {
    set.texts[i % count] = "changed " + std::to_string(i);
    set.Point();
    ++i;
    if (FAILED(document.WriteSet(set))) state.SkipWithError("write");
  }
}

void BM_TypedSetProperty(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  Document document(count);
  size_t i = 0;
  for (auto _ : state) {
    IStorage* storage = nullptr;
    if (FAILED(OpenForWriting(document.Path(), &storage))) {
      state.SkipWithError("open");
      break;
    }
    quorvane::DocfileProperties typed(storage);
    typed.SetProperty(Name(i % count), L"typed " + std::to_wstring(i));
    ++i;
  }
}

void BM_ReadSet(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  Document document(count);
  for (auto _ : state) {
    IStorage* storage = nullptr;
    IPropertySetStorage* sets = nullptr;
    IPropertyStorage* user = nullptr;
    IEnumSTATPROPSTG* entries = nullptr;
    if (FAILED(StgOpenStorage(document.Path().c_str(), nullptr, kReadMode, nullptr, 0, &storage)) ||
        FAILED(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets))) ||
        FAILED(sets->Open(FMTID_UserDefinedProperties, STGM_SHARE_EXCLUSIVE, &user)) || FAILED(user->Enum(&entries))) {
      state.SkipWithError("open");
      break;
    }
    STATPROPSTG entry;
    size_t read = 0;
    while (entries->Next(1, &entry, nullptr) == S_OK) {
      if (ReadOne(user, entry.propid)) ++read;
      CoTaskMemFree(entry.lpwstrName);
    }
    if (read < count) state.SkipWithError("short read");
    entries->Release();
    user->Release();
    sets->Release();
    storage->Release();
  }
}

// Every property of one set read as the read methods do: Enum, then one
// ReadMultiple per text or date-time property.
size_t ReadTextAndDates(IPropertySetStorage* sets, const FMTID& fmtid) {
  IPropertyStorage* set = nullptr;
  IEnumSTATPROPSTG* entries = nullptr;
  size_t read = 0;
  if (SUCCEEDED(sets->Open(fmtid, STGM_SHARE_EXCLUSIVE, &set)) && SUCCEEDED(set->Enum(&entries))) {
    STATPROPSTG entry;
    while (entries->Next(1, &entry, nullptr) == S_OK) {
      const bool handedOver = entry.vt == VT_LPSTR || entry.vt == VT_LPWSTR || entry.vt == VT_FILETIME;
      if (handedOver && ReadOne(set, entry.propid)) ++read;
      CoTaskMemFree(entry.lpwstrName);
    }
  }
  if (entries) entries->Release();
  if (set) set->Release();
  return read;
}

void BM_ReadPptWithThumbnail(benchmark::State& state) {
  const char* source = getenv("QV_SOURCE_DIR");
  const std::wstring path = quorvane::ToWide(std::string(source ? source : ".") +
                                             "/tests/fixtures/compound/LibreOfficeBlankSample_v25.8.ppt");
  for (auto _ : state) {
    IStorage* storage = nullptr;
    IPropertySetStorage* sets = nullptr;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, kReadMode, nullptr, 0, &storage)) ||
        FAILED(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)))) {
      state.SkipWithError("open");
      if (storage) storage->Release();
      break;
    }
    if (ReadTextAndDates(sets, FMTID_SummaryInformation) + ReadTextAndDates(sets, FMTID_UserDefinedProperties) == 0)
      state.SkipWithError("nothing read");
    sets->Release();
    storage->Release();
  }
}

}  // namespace

BENCHMARK(BM_ReadPptWithThumbnail)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteSetOneChanged)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypedSetProperty)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSet)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
