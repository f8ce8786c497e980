// One consistent look at a compound file, valid while the file is unchanged:
// the header read, the FAT, mini FAT and directory reached lazily from it. Reading a stream touches the header, the directory sectors on the way
// to its entry, the FAT or mini FAT sectors along its chain and its own
// sectors, whatever the size of the file. Every number read from the file is
// checked before use; a malformed file gives STG_E_DOCFILECORRUPT (or
// STG_E_INVALIDHEADER), never a crash or a loop.
//
// A View is used by one thread at a time and refers to the FileIo it
// was loaded from, which must outlive it. The update code changes its header
// and root entry in place and writes them back (see Update.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CfbFormat.h"
#include "Fat.h"
#include "FileIo.h"
#include "Tables.h"

namespace quorvane {
namespace posix {
namespace cfb {

struct Child {
  uint32_t id = kNoStream;
  DirEntry entry;
};

struct WalkEntry {
  std::vector<std::u16string> path;  // names from the root down to the entry
  DirEntry entry;
};

class View {
 public:
  // STG_E_FILEALREADYEXISTS when the file is not a compound file at all (the
  // Windows answer), STG_E_INVALIDHEADER or STG_E_DOCFILECORRUPT when it is a
  // damaged one.
  // `fileSize` is the file's size now, under the caller's lock.
  static HRESULT Load(FileIo& io, uint64_t fileSize, std::unique_ptr<View>& out);

  // The entries of a storage's tree in the directory's order.
  HRESULT Children(uint32_t storageId, std::vector<Child>& out);
  // STG_E_FILENOTFOUND when the storage has no such entry.
  HRESULT Find(uint32_t storageId, const std::u16string& name, Child* out);
  // Follows storage names from the root; an empty path is the root itself.
  HRESULT Resolve(const std::vector<std::u16string>& path, Child* out);
  HRESULT ReadData(const DirEntry& stream, std::vector<uint8_t>& out);
  // A stream of kMiniStreamCutoff bytes or more: its sectors, then any part
  // of it through them (the caller keeps the part within the stream).
  HRESULT RegularChain(const DirEntry& stream, std::vector<uint32_t>& chain);
  HRESULT ReadRegularPart(const std::vector<uint32_t>& chain, uint64_t offset, size_t count, uint8_t* into);
  // Every entry under the root, storages before their contents.
  HRESULT Walk(std::vector<WalkEntry>& out);

  // Mini stream geometry (from the root entry).
  uint32_t MiniSectorCount() const;
  HRESULT MiniSectorOffset(uint32_t mini, uint64_t* offset);

  FileIo& io;
  Header header;
  uint8_t headerBytes[kHeaderSize];  // as read, to tell whether the header changed
  Fat fat;
  MiniFat miniFat;
  Directory directory;
  DirEntry root;
  DirEntry rootAsRead;
  ChainedStream miniStream;

 private:
  View(FileIo& io, const Header& header, uint32_t sectorCount);
  HRESULT ReadRegular(const DirEntry& stream, std::vector<uint8_t>& out);
  HRESULT ReadMini(const DirEntry& stream, std::vector<uint8_t>& out);
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
