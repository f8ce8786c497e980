// Byte-level access to one open file: positioned reads and writes looped over
// short transfers and EINTR, fsync, the file's stamp. Every write and sync passes through
// a process-wide fault plan so that tests can stop an update at any step.
// A FileIo owns its descriptor and closes it in the destructor; one object is
// used by one thread at a time (its owner serialises).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../base/WinError.h"
#include "../StorageApi.h"

struct stat;
struct timespec;

namespace quorvane {
namespace posix {
namespace cfb {

// The storage HRESULT for an errno value (STG_E_FILENOTFOUND, STG_E_ACCESSDENIED,
// STG_E_MEDIUMFULL, ...), built on the one errno -> Win32 mapping.
HRESULT StorageErrorFromErrno(int error, bool writing);

enum class OpenDisposition { kOpenExisting, kCreateNew, kCreateAlways };

// What fstat says of a file's identity, size and change times. Two equal
// stamps mean nothing wrote to the file in between only when the first was
// `settled`: its change times lay well in the past when it was taken, so any
// later write must give a newer time, whatever the timestamp granularity.
// Files on network shares are never settled.
struct FileStamp {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedSec = 0, modifiedNsec = 0, changedSec = 0, changedNsec = 0;
  bool settled = false;
  bool SameAs(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSec == other.modifiedSec && modifiedNsec == other.modifiedNsec &&
           changedSec == other.changedSec && changedNsec == other.changedNsec;
  }
};

class FileIo {
 public:
  static HRESULT Open(const std::string& path, bool writable, OpenDisposition disposition,
                      std::unique_ptr<FileIo>& out);
  ~FileIo();
  FileIo(const FileIo&) = delete;
  FileIo& operator=(const FileIo&) = delete;

  // Reads up to `count` bytes; `*got` is short only at the end of the file.
  HRESULT ReadAt(uint64_t offset, void* buffer, size_t count, size_t* got);
  // Reads the whole file (as stamped `now`, at most kImageBytes) at once and
  // serves ReadAt from that copy until ForgetImage, a write, or another
  // image of the same thread. A compound file's parts lie all over it: one
  // read is one trip to the disk where a sector at a time is one each. The
  // caller holds off writers while it loads, and loads again unless a
  // settled stamp proves the file unchanged; the image of a file stamped so
  // is taken over without a read. False when the file is too big or the
  // read fails; reads then go to the file.
  bool LoadImage(const FileStamp& now);
  void ForgetImage();
  static constexpr uint64_t kImageBytes = 256u << 10;
  HRESULT WriteAt(uint64_t offset, const void* buffer, size_t count);
  // fdatasync; nothing to do when this object wrote nothing since the last
  // one, as an update's steps sync between them whether or not they wrote.
  HRESULT Sync();
  // The writes since the last Sync only free space that nothing on disk
  // refers to any more: a crash that loses them leaves those sectors
  // allocated and unreachable, so no later Sync has to wait for them.
  void ForgoSync() { unsynced_ = false; }
  HRESULT Stamp(FileStamp* out);
  // The stamp taken when the file was opened.
  const FileStamp& OpenedStamp() const { return opened_; }
  HRESULT Truncate(uint64_t size);

  // Until EndUndo, each write first keeps the bytes it covers of the file as
  // it was at BeginUndo; Rollback puts them back in reverse order, cuts the
  // file to its old size and syncs, so a failed update leaves the file as it
  // found it. The memory held is what the update overwrites of the old file.
  HRESULT BeginUndo();
  HRESULT Rollback();
  void EndUndo();

  int Descriptor() const { return fd_; }
  bool Writable() const { return writable_; }
  // Bytes handed to WriteAt since the file was opened (for measurements).
  uint64_t BytesWritten() const { return bytesWritten_; }
  uint64_t BytesRead() const { return bytesRead_; }

 private:
  FileIo(int fd, bool writable) : fd_(fd), writable_(writable) {}
  static FileStamp StampOf(int fd, const struct stat& st, const struct timespec& now);
  int fd_;
  bool writable_;
  bool unsynced_ = true;  // the first Sync also covers what others left unsynced
  uint64_t bytesWritten_ = 0;
  uint64_t bytesRead_ = 0;
  FileStamp opened_;
  uint64_t image_ = 0;  // the serial of this file's image in its thread's buffer; 0: none
  struct Saved {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  bool undoing_ = false;
  bool undoWrote_ = false;
  uint64_t undoSize_ = 0;  // the file's size at BeginUndo
  std::vector<Saved> undo_;
};

// How far in the past a stamp's change times must lie to count as settled
// (3 s by default). Tests lower it to reach the settled path on fresh files.
void SetStampSettleSeconds(int64_t seconds);

// Fault injection for crash tests: the `at`-th write or sync (counting from 1,
// over all FileIo objects of the process, from the moment the plan is set)
// fails with `error` (STG_E_WRITEFAULT unless set), or ends the process with
// _exit(exitCode) before touching the file. `record`, when set, is told of
// every write (offset and bytes) and sync that goes ahead. Not thread-safe;
// meant for single-threaded tests.
struct FaultPlan {
  enum class Action { kNone, kFail, kExit };
  Action action = Action::kNone;
  uint64_t at = 0;
  int exitCode = 77;
  HRESULT error = STG_E_WRITEFAULT;
  // A sync is told as an empty write at offset UINT64_MAX.
  std::function<void(uint64_t offset, const uint8_t* bytes, size_t count)> record;
};
void SetFaultPlan(const FaultPlan& plan);
// Writes and syncs seen since the last SetFaultPlan.
uint64_t FaultPlanOperations();

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
