// An open compound file: the engine behind IStorage on Linux and the
// StreamStore the property-set layer reads and writes through.
//
// Every operation sees what the file holds now: its View is loaded again
// (header and directory read again) unless the file's stamp shows nothing
// wrote to it since. Each runs under the UPDATE byte lock:
// shared for reads, exclusive for updates (see ShareLocks.h). A reader in
// another process therefore sees each stream whole, old or new, never torn.
//
// Thread safety: all members may be called from any thread; calls on one
// object are serialised by its mutex. Shared by the IStorage object and the
// property-set storage handed out from it (shared_ptr); the descriptor and
// its locks go when the last owner lets go.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../StreamStore.h"
#include "FileIo.h"
#include "ShareLocks.h"
#include "View.h"

namespace quorvane {
namespace posix {
namespace cfb {

class CompoundFile : public StreamStore {
 public:
  // STG_E_FILENOTFOUND, STG_E_ACCESSDENIED, STG_E_SHAREVIOLATION,
  // STG_E_LOCKVIOLATION, STG_E_FILEALREADYEXISTS (not a compound file),
  // STG_E_INVALIDHEADER, STG_E_DOCFILECORRUPT ...
  static HRESULT Open(const std::string& path, const ShareMode& mode, std::shared_ptr<CompoundFile>& out);
  // A new, empty file of major version 3 (512-byte sectors) or 4 (4096).
  // Without `overwrite`, an existing file gives STG_E_FILEALREADYEXISTS.
  static HRESULT Create(const std::string& path, const ShareMode& mode, bool overwrite, uint16_t majorVersion,
                        std::shared_ptr<CompoundFile>& out);

  // StreamStore: streams of the root storage.
  HRESULT ReadStream(const std::u16string& name, std::vector<uint8_t>& out) override;
  HRESULT WriteStream(const std::u16string& name, const std::vector<uint8_t>& bytes) override;
  HRESULT DeleteStream(const std::u16string& name) override;
  // Under one read lock and view, parts read from the file as asked; a small
  // stream is read whole and kept in the ReadCache, as ReadStream does. The
  // version comes from the same stamp the read is checked against.
  HRESULT ReadStreamParts(const std::u16string& name, const PartPlan& plan, uint64_t* version = nullptr) override;
  bool CanWrite() const override { return mode_.write; }
  // Moves on with every update through this object. While no other writer
  // can reach the file (others denied, and for SWMR this object holding the
  // writer lock), only those updates change it; otherwise it also moves
  // whenever the file's stamp changes and is trusted only for a settled stamp.
  uint64_t ContentsVersion() override;

  // A stream anywhere: the names of its storages from the root, then its own.
  HRESULT ReadStreamAt(const std::vector<std::u16string>& path, std::vector<uint8_t>& out);
  HRESULT Walk(std::vector<WalkEntry>& out);
  // Direct mode: everything is written already; this makes it durable.
  HRESULT Commit();

  bool IsSwmr() const { return mode_.swmr; }
  HRESULT WaitForWriteAccess(DWORD timeoutMs);
  HRESULT ReleaseWriteAccess();
  bool HaveWriteAccess();

  uint64_t BytesWritten();
  uint64_t BytesRead();

 private:
  CompoundFile(std::unique_ptr<FileIo> io, const ShareMode& mode);
  template <typename Operation>
  HRESULT Reading(Operation operation);
  template <typename Operation>
  HRESULT Updating(Operation operation);
  template <typename Operation>
  HRESULT OnCurrentView(Operation& operation);
  // ContentsVersion's steps, under mutex_: whether no other writer can reach
  // the file, and the version for the file's stamp `now` otherwise.
  bool Alone();
  uint64_t VersionAt(const FileStamp& now);

  std::mutex mutex_;
  std::unique_ptr<FileIo> io_;
  ShareLocks locks_;
  ShareMode mode_;
  std::unique_ptr<View> view_;  // the last operation's, with the stamp it was loaded under
  FileStamp stamp_;
  uint64_t version_ = 1;
  FileStamp versionStamp_;  // the file's stamp when version_ last moved
  bool haveVersionStamp_ = false;
  bool alone_ = false;  // no other writer could reach the file at the last ContentsVersion
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
