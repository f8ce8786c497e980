#include "StorageObject.h"

#include <atomic>
#include <cstring>
#include <new>

#include "../../text/FileSystemText.h"

#if __has_include("../props/PropertySetStorage.h")
#  include "../props/PropertySetStorage.h"
#  define QV_HAVE_PROPERTY_SETS 1
#endif

const IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDirectWriterLock = {0x0E6D4D92, 0x6738, 0x11CF, {0x96, 0x08, 0x00, 0xAA, 0x00, 0x68, 0x0D, 0xB4}};

namespace quorvane {
namespace posix {
namespace cfb {

namespace {

constexpr DWORD kAccessMask = 0x00000003;
constexpr DWORD kShareMask = 0x00000070;
constexpr DWORD kKnownFlags = kAccessMask | kShareMask | STGM_TRANSACTED | STGM_SIMPLE | STGM_PRIORITY |
                              STGM_DELETEONRELEASE | STGM_NOSCRATCH | STGM_CREATE | STGM_CONVERT | STGM_NOSNAPSHOT |
                              STGM_DIRECT_SWMR;

class Storage final : public IStorage, public IDirectWriterLock {
 public:
  explicit Storage(std::shared_ptr<CompoundFile> file) : file_(std::move(file)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IStorage) {
      *ppv = static_cast<IStorage*>(this);
    } else if (riid == IID_IDirectWriterLock) {
      if (!file_->IsSwmr()) return E_NOINTERFACE;  // only single-writer/multiple-reader storages
      *ppv = static_cast<IDirectWriterLock*>(this);
#ifdef QV_HAVE_PROPERTY_SETS
    } else if (riid == IID_IPropertySetStorage) {
      return CreatePropertySetStorage(file_, reinterpret_cast<IPropertySetStorage**>(ppv));
#endif
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override {
    if (grfCommitFlags > 0xF) return STG_E_INVALIDFLAG;
    return file_->Commit();
  }

  HRESULT STDMETHODCALLTYPE WaitForWriteAccess(DWORD dwTimeout) override {
    return file_->WaitForWriteAccess(dwTimeout);
  }
  HRESULT STDMETHODCALLTYPE ReleaseWriteAccess() override { return file_->ReleaseWriteAccess(); }
  HRESULT STDMETHODCALLTYPE HaveWriteAccess() override { return file_->HaveWriteAccess() ? S_OK : S_FALSE; }

  const std::shared_ptr<CompoundFile>& File() const { return file_; }

 private:
  ~Storage() override = default;
  std::shared_ptr<CompoundFile> file_;
  std::atomic<ULONG> references_{1};
};

HRESULT Hand(std::shared_ptr<CompoundFile> file, IStorage** out) {
  Storage* storage = new (std::nothrow) Storage(std::move(file));
  if (storage == nullptr) return E_OUTOFMEMORY;
  *out = storage;
  return S_OK;
}

}  // namespace

HRESULT ShareModeFromStgm(DWORD grfMode, bool creating, ShareMode* out) {
  if ((grfMode & ~kKnownFlags) != 0) return STG_E_INVALIDFLAG;
  ShareMode mode;
  switch (grfMode & kAccessMask) {
    case STGM_READ: mode.read = true; break;
    case STGM_WRITE: mode.read = false; mode.write = true; break;
    case STGM_READWRITE: mode.write = true; break;
    default: return STG_E_INVALIDFLAG;
  }
  switch (grfMode & kShareMask) {
    case 0:  // no share flag: nothing denied
    case STGM_SHARE_DENY_NONE: break;
    case STGM_SHARE_DENY_READ: mode.denyRead = true; break;
    case STGM_SHARE_DENY_WRITE: mode.denyWrite = true; break;
    case STGM_SHARE_EXCLUSIVE: mode.denyRead = mode.denyWrite = true; break;
    default: return STG_E_INVALIDFLAG;
  }
  mode.swmr = (grfMode & STGM_DIRECT_SWMR) != 0;
  const bool transacted = (grfMode & STGM_TRANSACTED) != 0;
  if (grfMode & (STGM_PRIORITY | STGM_CONVERT | STGM_DELETEONRELEASE)) return STG_E_INVALIDFLAG;
  if ((grfMode & STGM_CREATE) && !creating) return STG_E_INVALIDFLAG;
  if (mode.swmr && transacted) return STG_E_INVALIDFLAG;
  // Writes go straight to the file; there is no transaction to hold them.
  if (transacted && mode.write) return STG_E_INVALIDFLAG;
  // A direct-mode writer must keep other writers out (or take turns, SWMR).
  if (mode.write && !mode.swmr && !mode.denyWrite) return STG_E_INVALIDFLAG;
  *out = mode;
  return S_OK;
}

HRESULT CreateDocfile(const WCHAR* name, DWORD grfMode, uint16_t majorVersion, IStorage** out) {
  if (out == nullptr) return STG_E_INVALIDPOINTER;
  *out = nullptr;
  if (name == nullptr) return STG_E_INVALIDNAME;  // no temporary docfiles here
  if (majorVersion != 3 && majorVersion != 4) return STG_E_INVALIDPARAMETER;
  ShareMode mode;
  HRESULT hr = ShareModeFromStgm(grfMode, true, &mode);
  if (FAILED(hr)) return hr;
  if (!mode.write) return STG_E_INVALIDFLAG;
  std::shared_ptr<CompoundFile> file;
  try {
    hr = CompoundFile::Create(FileSystemTextFromWide(name), mode, (grfMode & STGM_CREATE) != 0, majorVersion, file);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return FAILED(hr) ? hr : Hand(std::move(file), out);
}

std::shared_ptr<CompoundFile> CompoundFileOf(IStorage* storage) {
  auto* ours = dynamic_cast<Storage*>(storage);
  return ours ? ours->File() : nullptr;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane

using quorvane::posix::cfb::CompoundFile;
using quorvane::posix::cfb::ShareMode;

HRESULT StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, void* snbExclude,
                       DWORD reserved, IStorage** ppstgOpen) {
  if (ppstgOpen == nullptr) return STG_E_INVALIDPOINTER;
  *ppstgOpen = nullptr;
  if (pwcsName == nullptr) return STG_E_INVALIDNAME;
  if (reserved != 0 || pstgPriority != nullptr || snbExclude != nullptr) return STG_E_INVALIDPARAMETER;
  ShareMode mode;
  HRESULT hr = quorvane::posix::cfb::ShareModeFromStgm(grfMode, false, &mode);
  if (FAILED(hr)) return hr;
  std::shared_ptr<CompoundFile> file;
  try {
    hr = CompoundFile::Open(quorvane::posix::FileSystemTextFromWide(pwcsName), mode, file);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return FAILED(hr) ? hr : quorvane::posix::cfb::Hand(std::move(file), ppstgOpen);
}

HRESULT StgCreateDocfile(const WCHAR* pwcsName, DWORD grfMode, DWORD reserved, IStorage** ppstgOpen) {
  if (reserved != 0) return STG_E_INVALIDPARAMETER;
  return quorvane::posix::cfb::CreateDocfile(pwcsName, grfMode, 3, ppstgOpen);
}

HRESULT StgIsStorageFile(const WCHAR* pwcsName) {
  using namespace quorvane::posix::cfb;
  if (pwcsName == nullptr) return STG_E_INVALIDNAME;
  std::unique_ptr<FileIo> io;
  HRESULT hr = FileIo::Open(quorvane::posix::FileSystemTextFromWide(pwcsName), false,
                            OpenDisposition::kOpenExisting, io);
  if (FAILED(hr)) return hr;
  uint8_t bytes[kHeaderSize];
  size_t got = 0;
  if (FAILED(hr = io->ReadAt(0, bytes, sizeof(bytes), &got))) return hr;
  Header header;
  return got == sizeof(bytes) && SUCCEEDED(ParseHeader(bytes, header)) ? S_OK : S_FALSE;
}
