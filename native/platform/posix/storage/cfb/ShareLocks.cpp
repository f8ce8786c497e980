#include "ShareLocks.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>

#include <algorithm>

#include "../StorageApi.h"
#include "CfbFormat.h"

namespace quorvane {
namespace posix {
namespace cfb {

namespace {

constexpr uint64_t kAccessRead = kRangeLockStart + 0;
constexpr uint64_t kAccessWrite = kRangeLockStart + 1;
constexpr uint64_t kAccessWriteSwmr = kRangeLockStart + 2;
constexpr uint64_t kDenyRead = kRangeLockStart + 3;
constexpr uint64_t kDenyWrite = kRangeLockStart + 4;
constexpr uint64_t kDenyWriteSwmr = kRangeLockStart + 5;
constexpr uint64_t kWriter = kRangeLockStart + 6;
constexpr uint64_t kUpdate = kRangeLockStart + 7;
constexpr uint64_t kAccessDelete = kRangeLockStart + 8;
constexpr uint64_t kDenyDelete = kRangeLockStart + 9;

// Reads and updates hold UPDATE for milliseconds; waiting longer means a
// stuck process.
constexpr DWORD kUpdateWaitMs = 10000;

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

struct flock Range(uint64_t offset, short type) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  fl.l_pid = 0;
  return fl;
}

}  // namespace

bool ShareLocks::Lock(uint64_t offset, short type) {
  struct flock fl = Range(offset, type);
  int rc;
  while ((rc = fcntl(fd_, F_OFD_SETLK, &fl)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

void ShareLocks::Unlock(uint64_t offset) {
  struct flock fl = Range(offset, F_UNLCK);
  while (fcntl(fd_, F_OFD_SETLK, &fl) != 0 && errno == EINTR) {
  }
}

ShareLocks::Probe ShareLocks::Test(uint64_t offset) {
  struct flock fl = Range(offset, F_WRLCK);
  int rc;
  while ((rc = fcntl(fd_, F_OFD_GETLK, &fl)) != 0 && errno == EINTR) {
  }
  if (rc != 0) return Probe::kUnsupported;
  if (fl.l_type == F_UNLCK) return Probe::kFree;
  return fl.l_pid == -1 ? Probe::kOurs : Probe::kForeign;
}

HRESULT ShareLocks::Register(const ShareMode& mode) {
  const bool lenient = mode.read && !mode.write && !mode.denyRead && !mode.denyWrite && !mode.deleteAccess &&
                       !mode.denyDelete;
  uint64_t taken[6];
  size_t count = 0;
  auto take = [&](bool wanted, uint64_t offset) {
    if (!wanted) return true;
    if (!Lock(offset, F_RDLCK)) return errno == EINVAL || errno == ENOLCK;  // no OFD locks here: not enforced
    taken[count++] = offset;
    return true;
  };
  bool registered = take(mode.read, kAccessRead) && take(mode.write, mode.swmr ? kAccessWriteSwmr : kAccessWrite) &&
                    take(mode.denyRead, kDenyRead) &&
                    take(mode.denyWrite, mode.swmr ? kDenyWriteSwmr : kDenyWrite) &&
                    take(mode.deleteAccess, kAccessDelete) && take(mode.denyDelete, kDenyDelete);
  HRESULT result = S_OK;
  if (!registered) {
    result = lenient ? S_OK : STG_E_LOCKVIOLATION;  // a foreign whole-file lock
  } else {
    const struct {
      bool when;
      uint64_t offset;
    } checks[] = {
        {mode.read, kDenyRead},
        {mode.write, kDenyWrite},
        {mode.write && !mode.swmr, kDenyWriteSwmr},
        {mode.denyRead, kAccessRead},
        {mode.denyWrite, kAccessWrite},
        {mode.denyWrite && !mode.swmr, kAccessWriteSwmr},
        {mode.deleteAccess, kDenyDelete},
        {mode.denyDelete, kAccessDelete},
    };
    for (const auto& check : checks) {
      if (!check.when) continue;
      const Probe probe = Test(check.offset);
      if (probe == Probe::kOurs) result = STG_E_SHAREVIOLATION;
      if (probe == Probe::kForeign && !lenient && result == S_OK) result = STG_E_LOCKVIOLATION;
      if (result == STG_E_SHAREVIOLATION) break;
    }
  }
  if (FAILED(result))
    for (size_t i = 0; i < count; ++i) Unlock(taken[i]);
  return result;
}

HRESULT ShareLocks::Acquire(uint64_t offset, short type, DWORD timeoutMs, HRESULT onTimeout, bool* skipped) {
  *skipped = false;
  const uint64_t start = NowMs();
  unsigned pause = 1;
  for (;;) {
    if (Lock(offset, type)) return S_OK;
    if (errno == EINVAL || errno == ENOLCK) {  // locks unsupported on this file system
      *skipped = true;
      return S_OK;
    }
    if (errno == EBADF) return STG_E_ACCESSDENIED;  // a write lock on a read-only descriptor
    const Probe probe = Test(offset);
    if (probe == Probe::kForeign) return STG_E_LOCKVIOLATION;
    if (timeoutMs != INFINITE && NowMs() - start >= timeoutMs) return onTimeout;
    SleepMs(pause);
    pause = std::min(pause * 2, 16u);
  }
}

HRESULT ShareLocks::BeginRead() {
  bool skipped = false;
  const HRESULT hr = Acquire(kUpdate, F_RDLCK, kUpdateWaitMs, STG_E_LOCKVIOLATION, &skipped);
  // A foreign program's lock is no update of ours: read without waiting.
  if (hr == STG_E_LOCKVIOLATION && Test(kUpdate) == Probe::kForeign) return S_OK;
  if (FAILED(hr)) return hr;
  readLockHeld_ = !skipped;
  return S_OK;
}

void ShareLocks::EndRead() {
  if (readLockHeld_) Unlock(kUpdate);
  readLockHeld_ = false;
}

HRESULT ShareLocks::BeginUpdate() {
  bool skipped = false;
  return Acquire(kUpdate, F_WRLCK, kUpdateWaitMs, STG_E_LOCKVIOLATION, &skipped);
}

void ShareLocks::EndUpdate() { Unlock(kUpdate); }

HRESULT ShareLocks::WaitForWriter(DWORD timeoutMs) {
  if (haveWriter_) return S_OK;
  bool skipped = false;
  HRESULT hr = Acquire(kWriter, F_WRLCK, timeoutMs, STG_E_INUSE, &skipped);
  if (hr == STG_E_LOCKVIOLATION) hr = STG_E_INUSE;  // held by another program
  if (SUCCEEDED(hr)) haveWriter_ = true;
  return hr;
}

void ShareLocks::ReleaseWriter() {
  if (haveWriter_) Unlock(kWriter);
  haveWriter_ = false;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
