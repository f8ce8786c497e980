// Share modes, the single-writer lock and the update lock of compound files,
// enforced among all openers in all processes with open-file-description
// locks (fcntl F_OFD_SETLK), so two opens inside one process conflict exactly
// as two processes do.
//
// Byte-range scheme. All locks lie in the range the format reserves for
// locking (file offsets 0x7FFFFF00..0x7FFFFFFF), which no sector ever
// occupies. Each byte has one meaning:
//
//   0x7FFFFF00  ACCESS_READ        shared by every opener with read access
//   0x7FFFFF01  ACCESS_WRITE       shared by every opener with write access
//   0x7FFFFF02  ACCESS_WRITE_SWMR  the same, for STGM_DIRECT_SWMR openers
//   0x7FFFFF03  DENY_READ          shared by openers that deny reading
//   0x7FFFFF04  DENY_WRITE         shared by openers that deny writing
//   0x7FFFFF05  DENY_WRITE_SWMR    the same, for STGM_DIRECT_SWMR openers
//   0x7FFFFF06  WRITER             exclusive: the IDirectWriterLock holder
//   0x7FFFFF07  UPDATE             exclusive while a writer changes the file,
//                                  shared while a reader reads one stream
//   0x7FFFFF08  ACCESS_DELETE      shared by openers with delete access
//   0x7FFFFF09  DENY_DELETE        shared by openers that deny deleting
//
// CreateFileW registers its access and share mode through the same bytes,
// so a document opened by the engine and by CreateFileW see each other.
// The engine never asks for delete access and never denies it.
//
// An opener first takes its own shared bytes, then tests the bytes it
// conflicts with (F_OFD_GETLK for a write lock, which ignores its own locks):
// reading conflicts with DENY_READ, writing with DENY_WRITE, denying reads
// with ACCESS_READ, denying writes with ACCESS_WRITE. Among SWMR openers the
// write-side pairs do not conflict (a SWMR writer denies writes to ordinary
// openers, while SWMR writers take turns through WRITER), so a SWMR writer
// and any number of SWMR readers share the file. Registering before testing
// means two racing openers may both fail, never both succeed wrongly.
//
// Other programs (LibreOffice, for one) take classic POSIX locks over the
// whole file. F_OFD_GETLK reports pid -1 for an open-file-description lock
// and the owner's pid for a classic one, which tells ours from theirs. A
// foreign lock refuses every open of ours except read-only deny-none, which
// still opens and reads (the other program is not one of our writers, so
// there is no update to wait for). Our own locks in turn make the foreign
// program's whole-file write lock fail, so it opens the document read-only.
//
// A ShareLocks object belongs to one open file description; it is used under
// its owner's mutex. Its locks go away when the descriptor is closed.
#pragma once

#include <cstdint>

#include "../../base/WinError.h"
#include "../../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace cfb {

struct ShareMode {
  bool read = true;
  bool write = false;
  bool denyRead = false;
  bool denyWrite = false;
  bool swmr = false;
  bool deleteAccess = false;
  bool denyDelete = false;
};

class ShareLocks {
 public:
  explicit ShareLocks(int fd) : fd_(fd) {}
  // STG_E_SHAREVIOLATION when another opener's mode conflicts, or
  // STG_E_LOCKVIOLATION when another program holds the file.
  HRESULT Register(const ShareMode& mode);

  // Held for one read: waits (briefly) for an update in progress.
  HRESULT BeginRead();
  void EndRead();
  // Held for one update: waits for reads in progress to finish.
  HRESULT BeginUpdate();
  void EndUpdate();

  // The IDirectWriterLock: STG_E_INUSE when `timeoutMs` runs out.
  HRESULT WaitForWriter(DWORD timeoutMs);
  void ReleaseWriter();
  bool HaveWriter() const { return haveWriter_; }

 private:
  enum class Probe { kFree, kOurs, kForeign, kUnsupported };
  bool Lock(uint64_t offset, short type);
  void Unlock(uint64_t offset);
  Probe Test(uint64_t offset);
  // Waits for `type` on `offset` up to `timeoutMs`; foreign locks end the wait.
  HRESULT Acquire(uint64_t offset, short type, DWORD timeoutMs, HRESULT onTimeout, bool* skipped);

  int fd_;
  bool haveWriter_ = false;
  bool readLockHeld_ = false;
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
