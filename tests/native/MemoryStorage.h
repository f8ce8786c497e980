// In-memory streams under the property-set engine behind a minimal IStorage; on Windows, ole32's memory docfile.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Win32Api.h"

#ifdef _WIN32
#include "SimpleModeStorage.h"

namespace qvtest {

// ole32's compound file on an HGLOBAL; `streams` lists the root's elements (the posix store's streams).
class MemoryStreamStore {
 public:
  MemoryStreamStore() {
    ILockBytes* bytes = nullptr;
    if (SUCCEEDED(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes))) {
      StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root);
      bytes->Release();
    }
  }
  ~MemoryStreamStore() {
    if (root) root->Release();
  }
  struct Elements {
    const MemoryStreamStore* store;
    size_t size() const {
      IEnumSTATSTG* list = nullptr;
      if (FAILED(store->root->EnumElements(0, nullptr, 0, &list))) return 0;
      size_t n = 0;
      for (STATSTG stat; list->Next(1, &stat, nullptr) == S_OK; ++n) CoTaskMemFree(stat.pwcsName);
      list->Release();
      return n;
    }
    bool empty() const { return size() == 0; }
  };

  IStorage* root = nullptr;
  Elements streams{this};
};

// The store's root with one more reference, which a DocfileProperties takes over.
inline IStorage* NewMemoryStorage(const std::shared_ptr<MemoryStreamStore>& store) {
  store->root->AddRef();
  return ForWine(store->root);
}

}  // namespace qvtest
#else
#include "posix/storage/StreamStore.h"
#include "posix/storage/props/PropertySetStorage.h"

namespace qvtest {

class MemoryStreamStore : public quorvane::posix::StreamStore {
 public:
  explicit MemoryStreamStore(bool writable = true) : writable(writable) {}
  HRESULT ReadStream(const std::u16string& name, std::vector<uint8_t>& out) override {
    const auto found = streams.find(name);
    if (found == streams.end()) return STG_E_FILENOTFOUND;
    out = found->second;
    return S_OK;
  }
  HRESULT WriteStream(const std::u16string& name, const std::vector<uint8_t>& bytes) override {
    if (!writable) return STG_E_ACCESSDENIED;
    streams[name] = bytes;
    ++writes;
    return S_OK;
  }
  HRESULT DeleteStream(const std::u16string& name) override {
    if (!writable) return STG_E_ACCESSDENIED;
    return streams.erase(name) ? S_OK : STG_E_FILENOTFOUND;
  }
  bool CanWrite() const override { return writable; }

  bool writable;
  int writes = 0;
  std::map<std::u16string, std::vector<uint8_t>> streams;
};

// Answers IID_IPropertySetStorage with the engine over its store; deletes itself on the last Release.
class MemoryStorage : public IStorage {
 public:
  explicit MemoryStorage(std::shared_ptr<MemoryStreamStore> store) : store(std::move(store)) {}

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (riid == IID_IPropertySetStorage)
      return CreatePropertySetStorage(store, reinterpret_cast<IPropertySetStorage**>(ppvObject));
    if (riid == IID_IUnknown) {
      AddRef();
      *ppvObject = this;
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    const ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Commit(DWORD) override { return S_OK; }

  std::shared_ptr<MemoryStreamStore> store;

 private:
  std::atomic<ULONG> references{1};
};

// A new storage over store, with the one reference a DocfileProperties takes over.
inline IStorage* NewMemoryStorage(std::shared_ptr<MemoryStreamStore> store) { return new MemoryStorage(store); }

}  // namespace qvtest
#endif  // _WIN32
