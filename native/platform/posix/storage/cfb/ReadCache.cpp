#include "ReadCache.h"

#include <new>

#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

ReadCache& ReadCache::Instance() {
  static ReadCache* cache = new ReadCache;  // never destroyed: used until exit
  return *cache;
}

ReadCache::File* ReadCache::Current(const FileStamp& now) {
  if (!now.settled) return nullptr;
  const auto it = files_.find(Key(now.device, now.inode));
  if (it == files_.end()) return nullptr;
  if (!it->second.stamp.SameAs(now)) {
    Drop(it);
    return nullptr;
  }
  it->second.lastUse = ++uses_;
  return &it->second;
}

void ReadCache::Drop(std::map<Key, File>::iterator file) {
  bytes_ -= file->second.bytes;
  files_.erase(file);
}

bool ReadCache::Find(const FileStamp& now, const std::vector<std::u16string>& path, HRESULT* result,
                     std::vector<uint8_t>& out) {
  std::lock_guard<std::mutex> guard(mutex_);
  File* file = Current(now);
  if (!file) return false;
  const auto it = file->streams.find(path);
  if (it == file->streams.end()) return false;
  try {
    out = it->second.bytes;
  } catch (const std::bad_alloc&) {
    return false;
  }
  *result = it->second.result;
  return true;
}

void ReadCache::Store(const FileStamp& stamp, const std::vector<std::u16string>& path, HRESULT result,
                      const std::vector<uint8_t>& bytes) {
  if (!stamp.settled || bytes.size() > kMaxStreamBytes || (result != S_OK && result != STG_E_FILENOTFOUND)) return;
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    const Key key(stamp.device, stamp.inode);
    auto it = files_.find(key);
    if (it != files_.end() && !it->second.stamp.SameAs(stamp)) {
      Drop(it);
      it = files_.end();
    }
    if (it == files_.end()) {
      it = files_.emplace(key, File()).first;
      it->second.stamp = stamp;
    }
    File& file = it->second;
    file.lastUse = ++uses_;
    if (file.streams.count(path)) return;
    file.streams[path] = Stream{result, bytes};
    file.bytes += bytes.size();
    bytes_ += bytes.size();
    while (bytes_ > kMaxBytes && !files_.empty()) {
      auto oldest = files_.begin();
      for (auto candidate = files_.begin(); candidate != files_.end(); ++candidate)
        if (candidate->second.lastUse < oldest->second.lastUse) oldest = candidate;
      Drop(oldest);
    }
  } catch (const std::bad_alloc&) {
    files_.clear();  // a cache is never worth failing a read for
    bytes_ = 0;
  }
}

bool ReadCache::KnowsSound(const FileStamp& now) {
  std::lock_guard<std::mutex> guard(mutex_);
  return Current(now) != nullptr;
}

void ReadCache::Forget(const FileStamp& file) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = files_.find(Key(file.device, file.inode));
  if (it != files_.end()) Drop(it);
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
