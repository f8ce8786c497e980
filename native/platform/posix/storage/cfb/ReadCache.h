// Streams read from documents that had not changed for a while, kept across
// opens, so a document read again and again is not read from disk each time.
//
// An entry is used only while the file's stamp is exactly the one it was
// taken under, and only when that stamp was settled (see FileStamp): any
// write since would have given the file a newer change time. A hit needs no
// update lock: the stamp, taken after the last write, shows the content as
// it is at that instant.
//
// Process-wide and thread-safe; bounded in bytes, least recently used files
// go first.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FileIo.h"

namespace quorvane {
namespace posix {
namespace cfb {

class ReadCache {
 public:
  static ReadCache& Instance();

  // A stream's result (S_OK with its bytes, or STG_E_FILENOTFOUND) under `now`.
  bool Find(const FileStamp& now, const std::vector<std::u16string>& path, HRESULT* result,
            std::vector<uint8_t>& out);
  void Store(const FileStamp& stamp, const std::vector<std::u16string>& path, HRESULT result,
             const std::vector<uint8_t>& bytes);
  // True when a stream of the file was read whole under this very stamp: the
  // file was a sound compound file then, and is unchanged.
  bool KnowsSound(const FileStamp& now);
  // Drops what is kept of the file (after this process changed it); only the
  // stamp's device and inode count.
  void Forget(const FileStamp& file);

  static constexpr size_t kMaxBytes = 4u << 20;
  static constexpr size_t kMaxStreamBytes = 256u << 10;

 private:
  using Key = std::pair<uint64_t, uint64_t>;  // device, inode
  struct Stream {
    HRESULT result;
    std::vector<uint8_t> bytes;
  };
  struct File {
    FileStamp stamp;
    std::map<std::vector<std::u16string>, Stream> streams;
    uint64_t lastUse = 0;
    size_t bytes = 0;
  };
  File* Current(const FileStamp& now);
  void Drop(std::map<Key, File>::iterator file);

  std::mutex mutex_;
  std::map<Key, File> files_;
  size_t bytes_ = 0;
  uint64_t uses_ = 0;
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
