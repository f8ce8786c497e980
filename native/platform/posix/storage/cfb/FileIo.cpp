#include "FileIo.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "../../base/ErrnoMapping.h"
#include "../StorageApi.h"
#include "../../kernel/UniqueFd.h"

namespace quorvane {
namespace posix {
namespace cfb {

HRESULT StorageErrorFromErrno(int error, bool writing) {
  if (error == EIO) return writing ? STG_E_WRITEFAULT : STG_E_READFAULT;
  if (error == ENOMEM) return E_OUTOFMEMORY;
  const DWORD code = Win32ErrorFromErrno(error);
  switch (code) {
    // The storage family carries these Win32 codes in facility 3.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_WRITE_PROTECT:
    case ERROR_SEEK:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_FILE_EXISTS:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DISK_FULL:
      return static_cast<HRESULT>(0x80030000u | code);
    default:
      return HRESULT_FROM_WIN32(code);
  }
}

namespace {

FaultPlan g_plan;
uint64_t g_operations = 0;

// S_OK when the operation may go ahead, else the error it fails with.
HRESULT PassFaultPoint(uint64_t offset, const void* bytes, size_t count) {
  if (g_plan.action != FaultPlan::Action::kNone && ++g_operations == g_plan.at) {
    if (g_plan.action == FaultPlan::Action::kExit) _exit(g_plan.exitCode);
    return g_plan.error;
  }
  if (g_plan.record) g_plan.record(offset, static_cast<const uint8_t*>(bytes), count);
  return S_OK;
}

}  // namespace

void SetFaultPlan(const FaultPlan& plan) {
  g_plan = plan;
  g_operations = 0;
}

uint64_t FaultPlanOperations() { return g_operations; }

HRESULT FileIo::Open(const std::string& path, bool writable, OpenDisposition disposition,
                     std::unique_ptr<FileIo>& out) {
  int flags = writable ? O_RDWR : O_RDONLY;
  if (disposition == OpenDisposition::kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == OpenDisposition::kCreateAlways) flags |= O_CREAT;
  // `now` is read before the fstat of the open, for the stamp.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct stat st;
  // Directories, devices and pipes are refused (EACCES).
  const int fd = OpenRegularFile(path.c_str(), flags, 0666, &st);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) return STG_E_FILEALREADYEXISTS;
    // Linux says ENOENT for a missing folder too; Windows tells them apart.
    const size_t slash = path.rfind('/');
    struct stat parent;
    if (error == ENOENT && slash != std::string::npos && slash > 0 &&
        ::stat(path.substr(0, slash).c_str(), &parent) != 0)
      return STG_E_PATHNOTFOUND;
    return StorageErrorFromErrno(error, writable);
  }
  out.reset(new FileIo(fd, writable));
  out->opened_ = StampOf(fd, st, now);
  return S_OK;
}

FileIo::~FileIo() {
  ForgetImage();
  if (fd_ >= 0) ::close(fd_);
}

namespace {
// One buffer per thread, kept between files: a read of a whole folder does
// not map and fault in fresh pages for every file. A FileIo reads from it
// while the buffer's serial is the one its load drew: serials are unique in
// the process, so another thread's buffer, or a later image of this one,
// never matches.
struct ImageBuffer {
  std::vector<uint8_t> bytes;
  size_t size = 0;  // of the file's bytes; short when it shrank since it was stamped
  uint64_t serial = 0;
  FileStamp stamp;  // of the file the bytes are, serial or not, when settled
};
thread_local ImageBuffer t_image;
std::atomic<uint64_t> g_imageSerials{0};
}  // namespace

bool FileIo::LoadImage(const FileStamp& now) {
  ForgetImage();
  if (now.size > kImageBytes) return false;
  if (!(t_image.stamp.settled && now.settled && t_image.stamp.SameAs(now))) {
    t_image.stamp = FileStamp();
    t_image.serial = 0;
    try {
      t_image.bytes.resize(static_cast<size_t>(now.size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (FAILED(ReadAt(0, t_image.bytes.data(), t_image.bytes.size(), &t_image.size))) return false;
    t_image.stamp = now;
  }
  image_ = t_image.serial = ++g_imageSerials;
  return true;
}

void FileIo::ForgetImage() {
  if (image_ != 0 && image_ == t_image.serial) t_image.serial = 0;
  image_ = 0;
}

HRESULT FileIo::ReadAt(uint64_t offset, void* buffer, size_t count, size_t* got) {
  size_t done = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  if (image_ != 0 && image_ == t_image.serial) {
    done = offset < t_image.size ? std::min<uint64_t>(count, t_image.size - offset) : 0;
    if (done > 0) std::memcpy(bytes, t_image.bytes.data() + offset, done);
    *got = done;
    return S_OK;
  }
  while (done < count) {
    const ssize_t n = ::pread(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return StorageErrorFromErrno(errno, false);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  *got = done;
  bytesRead_ += done;
  return S_OK;
}

HRESULT FileIo::WriteAt(uint64_t offset, const void* buffer, size_t count) {
  if (!writable_) return STG_E_ACCESSDENIED;
  ForgetImage();
  if (undoing_) undoWrote_ = true;
  if (undoing_ && offset < undoSize_) {
    Saved saved{offset, std::vector<uint8_t>(static_cast<size_t>(std::min<uint64_t>(count, undoSize_ - offset)))};
    size_t got = 0;
    const HRESULT hr = ReadAt(offset, saved.bytes.data(), saved.bytes.size(), &got);
    if (FAILED(hr)) return hr;
    saved.bytes.resize(got);
    undo_.push_back(std::move(saved));
  }
  HRESULT hr = PassFaultPoint(offset, buffer, count);
  if (FAILED(hr)) return hr;
  unsynced_ = true;
  size_t done = 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return StorageErrorFromErrno(errno, true);
    }
    if (n == 0) return STG_E_WRITEFAULT;
    done += static_cast<size_t>(n);
  }
  bytesWritten_ += count;
  return S_OK;
}

HRESULT FileIo::Sync() {
  if (!writable_ || !unsynced_) return S_OK;
  const HRESULT hr = PassFaultPoint(UINT64_MAX, nullptr, 0);
  if (FAILED(hr)) return hr;
  while (::fdatasync(fd_) != 0) {
    if (errno != EINTR) return StorageErrorFromErrno(errno, true);
  }
  unsynced_ = false;
  return S_OK;
}

namespace {

// Change times within this margin of now may still be shared by a write to
// come (coarse clocks, 2-second file systems).
int64_t g_settleSeconds = 3;

// Change times are only comparable with our clock where this kernel sets
// them: not on network shares, whose server clock may lag.
bool OnLocalFileSystem(int fd, dev_t device) {
  static std::mutex mutex;
  static std::map<dev_t, bool>* known = new std::map<dev_t, bool>;  // never destroyed: used until exit
  std::lock_guard<std::mutex> guard(mutex);
  const auto it = known->find(device);
  if (it != known->end()) return it->second;
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case 0x2FC12FC1:  // zfs
      return (*known)[device] = true;
    default:
      return (*known)[device] = false;
  }
}

}  // namespace

void SetStampSettleSeconds(int64_t seconds) { g_settleSeconds = seconds; }

// `now` is read before the fstat, so a settled stamp predates the next write.
FileStamp FileIo::StampOf(int fd, const struct stat& st, const timespec& now) {
  FileStamp stamp;
  stamp.device = static_cast<uint64_t>(st.st_dev);
  stamp.inode = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modifiedSec = st.st_mtim.tv_sec;
  stamp.modifiedNsec = st.st_mtim.tv_nsec;
  stamp.changedSec = st.st_ctim.tv_sec;
  stamp.changedNsec = st.st_ctim.tv_nsec;
  const int64_t latest = st.st_mtim.tv_sec > st.st_ctim.tv_sec ? st.st_mtim.tv_sec : st.st_ctim.tv_sec;
  stamp.settled = latest + g_settleSeconds < static_cast<int64_t>(now.tv_sec) && OnLocalFileSystem(fd, st.st_dev);
  return stamp;
}

HRESULT FileIo::Stamp(FileStamp* out) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return StorageErrorFromErrno(errno, false);
  *out = StampOf(fd_, st, now);
  return S_OK;
}

HRESULT FileIo::Truncate(uint64_t size) {
  if (!writable_) return STG_E_ACCESSDENIED;
  ForgetImage();
  unsynced_ = true;
  while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return StorageErrorFromErrno(errno, true);
  }
  return S_OK;
}

HRESULT FileIo::BeginUndo() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return StorageErrorFromErrno(errno, false);
  undo_.clear();
  undoSize_ = static_cast<uint64_t>(st.st_size);
  undoing_ = true;
  undoWrote_ = false;
  return S_OK;
}

void FileIo::EndUndo() {
  undoing_ = false;
  undo_.clear();
  undo_.shrink_to_fit();
}

HRESULT FileIo::Rollback() {
  if (!undoing_ || !undoWrote_) {
    EndUndo();
    return S_OK;
  }
  undoing_ = false;
  HRESULT hr = S_OK;
  for (auto saved = undo_.rbegin(); saved != undo_.rend() && SUCCEEDED(hr); ++saved)
    hr = WriteAt(saved->offset, saved->bytes.data(), saved->bytes.size());
  if (SUCCEEDED(hr)) hr = Truncate(undoSize_);
  if (SUCCEEDED(hr)) hr = Sync();
  EndUndo();
  return hr;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
