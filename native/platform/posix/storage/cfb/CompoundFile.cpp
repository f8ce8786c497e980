#include "CompoundFile.h"

#include <new>

#include "../StorageApi.h"
#include "ReadCache.h"
#include "Update.h"

namespace quorvane {
namespace posix {
namespace cfb {

CompoundFile::CompoundFile(std::unique_ptr<FileIo> io, const ShareMode& mode)
    : io_(std::move(io)), locks_(io_->Descriptor()), mode_(mode) {}

// Another process may have changed the file since the last operation: the
// view, and the image it was read from, are loaded again unless the stamp
// proves the file is as it was.
template <typename Operation>
HRESULT CompoundFile::OnCurrentView(Operation& operation) {
  try {
    FileStamp now;
    HRESULT hr = io_->Stamp(&now);
    if (FAILED(hr)) return hr;
    if (!view_ || !stamp_.settled || !now.SameAs(stamp_)) {
      view_.reset();
      // A view is loaded to be read from: the whole of a small file in one read.
      if (!mode_.write) io_->LoadImage(now);
      if (FAILED(hr = View::Load(*io_, now.size, view_))) {
        view_.reset();
        return hr;
      }
      stamp_ = now;
    }
    hr = operation(*view_);
    if (FAILED(hr)) view_.reset();  // it may hold part of a damaged table
    return hr;
  } catch (const std::bad_alloc&) {
    view_.reset();
    return E_OUTOFMEMORY;
  }
}

template <typename Operation>
HRESULT CompoundFile::Reading(Operation operation) {
  std::lock_guard<std::mutex> guard(mutex_);
  HRESULT hr = locks_.BeginRead();
  if (FAILED(hr)) return hr;
  hr = OnCurrentView(operation);
  locks_.EndRead();
  return hr;
}

template <typename Operation>
HRESULT CompoundFile::Updating(Operation operation) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!mode_.write) return STG_E_ACCESSDENIED;
  HRESULT hr = locks_.BeginUpdate();
  if (FAILED(hr)) return hr;
  hr = OnCurrentView(operation);
  view_.reset();  // changed in place by the update
  ReadCache::Instance().Forget(io_->OpenedStamp());
  ++version_;
  haveVersionStamp_ = false;
  locks_.EndUpdate();
  return hr;
}

HRESULT CompoundFile::Open(const std::string& path, const ShareMode& mode, std::shared_ptr<CompoundFile>& out) {
  std::unique_ptr<FileIo> io;
  HRESULT hr = FileIo::Open(path, mode.write, OpenDisposition::kOpenExisting, io);
  if (FAILED(hr)) return hr;
  std::shared_ptr<CompoundFile> file;
  try {
    file.reset(new CompoundFile(std::move(io), mode));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr = file->locks_.Register(mode))) return hr;
  // Refuse a file that is not a sound compound file now, as Windows does.
  if (!ReadCache::Instance().KnowsSound(file->io_->OpenedStamp()) &&
      FAILED(hr = file->Reading([](View&) { return S_OK; })))
    return hr;
  out = std::move(file);
  return S_OK;
}

HRESULT CompoundFile::Create(const std::string& path, const ShareMode& mode, bool overwrite, uint16_t majorVersion,
                             std::shared_ptr<CompoundFile>& out) {
  if (!mode.write) return STG_E_INVALIDFLAG;
  std::unique_ptr<FileIo> io;
  HRESULT hr = FileIo::Open(path, true, overwrite ? OpenDisposition::kCreateAlways : OpenDisposition::kCreateNew, io);
  if (FAILED(hr)) return hr;
  std::shared_ptr<CompoundFile> file;
  try {
    file.reset(new CompoundFile(std::move(io), mode));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // Share modes are checked before the old content (if any) is thrown away.
  if (FAILED(hr = file->locks_.Register(mode)) || FAILED(hr = file->locks_.BeginUpdate())) return hr;
  hr = WriteEmptyFile(*file->io_, majorVersion);
  file->locks_.EndUpdate();
  if (FAILED(hr)) return hr;
  out = std::move(file);
  return S_OK;
}

HRESULT CompoundFile::ReadStream(const std::u16string& name, std::vector<uint8_t>& out) {
  return ReadStreamAt({name}, out);
}

HRESULT CompoundFile::ReadStreamAt(const std::vector<std::u16string>& path, std::vector<uint8_t>& out) {
  out.clear();
  if (path.empty()) return STG_E_INVALIDPARAMETER;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    FileStamp now;
    HRESULT kept;
    if (SUCCEEDED(io_->Stamp(&now)) && ReadCache::Instance().Find(now, path, &kept, out)) return kept;
  }
  return Reading([&](View& view) {
    Child stream;
    HRESULT hr = view.Resolve(path, &stream);
    if (SUCCEEDED(hr) && stream.entry.objectType != kTypeStream) hr = STG_E_FILENOTFOUND;
    if (SUCCEEDED(hr)) hr = view.ReadData(stream.entry, out);
    ReadCache::Instance().Store(stamp_, path, hr, out);
    return hr;
  });
}

HRESULT CompoundFile::ReadStreamParts(const std::u16string& name, const PartPlan& plan, uint64_t* version) {
  std::vector<uint8_t> whole;
  std::vector<uint32_t> chain;
  if (version) *version = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    FileStamp now;
    HRESULT kept;
    if (SUCCEEDED(io_->Stamp(&now)) && ReadCache::Instance().Find(now, {name}, &kept, whole)) {
      // What is kept is the file as stamped `now`: the version belongs to these bytes.
      if (version) *version = Alone() ? version_ : VersionAt(now);
      return FAILED(kept) ? kept : PlanOverWhole(whole, plan);
    }
  }
  return Reading([&](View& view) {
    // stamp_ was taken before anything of the view was read.
    if (version) *version = Alone() ? version_ : VersionAt(stamp_);
    Child stream;
    HRESULT hr = view.Find(0, name, &stream);
    if (SUCCEEDED(hr) && stream.entry.objectType != kTypeStream) hr = STG_E_FILENOTFOUND;
    const uint64_t size = SUCCEEDED(hr) ? stream.entry.streamSize : 0;
    if (SUCCEEDED(hr) && size >= kPartsFrom) {
      if (FAILED(hr = view.RegularChain(stream.entry, chain))) return hr;
      return plan(size, [&](uint64_t offset, size_t count, uint8_t* into) -> HRESULT {
        if (offset > size || count > size - offset) return STG_E_DOCFILECORRUPT;
        return view.ReadRegularPart(chain, offset, count, into);
      });
    }
    // A small stream is read whole and kept, as ReadStream keeps it.
    if (SUCCEEDED(hr)) hr = view.ReadData(stream.entry, whole);
    ReadCache::Instance().Store(stamp_, {name}, hr, whole);
    return FAILED(hr) ? hr : PlanOverWhole(whole, plan);
  });
}

HRESULT CompoundFile::Walk(std::vector<WalkEntry>& out) {
  return Reading([&](View& view) { return view.Walk(out); });
}

HRESULT CompoundFile::WriteStream(const std::u16string& name, const std::vector<uint8_t>& bytes) {
  return Updating([&](View& view) { return WriteRootStream(view, name, bytes); });
}

HRESULT CompoundFile::DeleteStream(const std::u16string& name) {
  return Updating([&](View& view) { return DeleteRootStream(view, name); });
}

HRESULT CompoundFile::Commit() {
  std::lock_guard<std::mutex> guard(mutex_);
  return io_->Sync();
}

HRESULT CompoundFile::WaitForWriteAccess(DWORD timeoutMs) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!mode_.write) return STG_E_ACCESSDENIED;
  const HRESULT hr = locks_.WaitForWriter(timeoutMs);
  if (SUCCEEDED(hr)) ++version_;  // the writer before may have changed the file
  return hr;
}

HRESULT CompoundFile::ReleaseWriteAccess() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!locks_.HaveWriter()) return E_UNEXPECTED;
  locks_.ReleaseWriter();
  return S_OK;
}

bool CompoundFile::HaveWriteAccess() {
  std::lock_guard<std::mutex> guard(mutex_);
  return locks_.HaveWriter();
}

uint64_t CompoundFile::ContentsVersion() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (Alone()) return version_;
  FileStamp now;
  if (FAILED(io_->Stamp(&now))) return 0;
  return VersionAt(now);
}

bool CompoundFile::Alone() {
  // Only this object's updates change the file while it denies writing to
  // others, except that SWMR writers take turns: for them, only while this
  // one holds the writer lock. Another may have written before it came.
  const bool alone = mode_.denyWrite && (!mode_.swmr || locks_.HaveWriter());
  if (alone && !alone_) ++version_;
  alone_ = alone;
  return alone;
}

uint64_t CompoundFile::VersionAt(const FileStamp& now) {
  if (haveVersionStamp_ && now.SameAs(versionStamp_) && versionStamp_.settled) return version_;
  ++version_;
  versionStamp_ = now;
  haveVersionStamp_ = true;
  return now.settled ? version_ : 0;
}

uint64_t CompoundFile::BytesWritten() {
  std::lock_guard<std::mutex> guard(mutex_);
  return io_->BytesWritten();
}

uint64_t CompoundFile::BytesRead() {
  std::lock_guard<std::mutex> guard(mutex_);
  return io_->BytesRead();
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
