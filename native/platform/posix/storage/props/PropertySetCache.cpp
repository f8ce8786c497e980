#include "PropertySetCache.h"

#include <cstring>
#include <deque>
#include <new>

#include "PropertySetParts.h"

namespace quorvane {
namespace posix {

namespace {

template <typename A, typename B>
bool SameOwner(const A& a, const B& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

// The parses kept across stores, most recently used first; a few streams of
// at most 256 KiB each, so a client that writes one document and another in
// turn finds both.
class ParsedStreams {
 public:
  static ParsedStreams& Instance() {
    static ParsedStreams* kept = new ParsedStreams;  // never destroyed: used until exit
    return *kept;
  }

  std::shared_ptr<const PropertySetStream> Find(const std::u16string& name, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      const std::vector<uint8_t>& original = *it->stream->Original();
      if (it->name != name || original.size() != bytes.size() ||
          std::memcmp(original.data(), bytes.data(), bytes.size()) != 0)
        continue;
      Entry found = *it;
      kept_.erase(it);
      kept_.push_front(found);
      return found.stream;
    }
    return nullptr;
  }

  void Keep(const std::u16string& name, std::shared_ptr<const PropertySetStream> stream) {
    if (!stream || !stream->Original() || stream->Partial()) return;
    std::lock_guard<std::mutex> guard(mutex_);
    kept_.push_front(Entry{name, std::move(stream)});
    if (kept_.size() > kMaxStreams) kept_.pop_back();
  }

  // Drops the entries that share `part`'s owner when, with `others` holders
  // besides, they are all the holders there are; false (nothing dropped) else.
  template <typename Owner>
  bool DropIfOnly(const Owner& part, long others) {
    std::lock_guard<std::mutex> guard(mutex_);
    long held = others;
    for (const Entry& entry : kept_) held += SameOwner(entry.stream, part) ? 1 : 0;
    if (part.use_count() != held) return false;
    for (auto it = kept_.begin(); it != kept_.end();)
      it = SameOwner(it->stream, part) ? kept_.erase(it) : ++it;
    return true;
  }

 private:
  static constexpr size_t kMaxStreams = 4;
  struct Entry {
    std::u16string name;
    std::shared_ptr<const PropertySetStream> stream;
  };
  std::mutex mutex_;
  std::deque<Entry> kept_;
};

}  // namespace

void PropertySetCache::Keep(const std::u16string& name, std::shared_ptr<const PropertySetStream> stream) {
  try {
    ParsedStreams::Instance().Keep(name, std::move(stream));
  } catch (const std::bad_alloc&) {
    // a cache is never worth failing a write for
  }
}

std::shared_ptr<PropertySetStream> PropertySetCache::Surrender(const std::shared_ptr<const PropertySection>& part,
                                                                uint64_t& version) {
  version = 0;
  auto kept = streams_.begin();
  while (kept != streams_.end() && !(kept->second.stream && SameOwner(kept->second.stream, part))) ++kept;
  if (kept == streams_.end()) return nullptr;
  // `part`, this cache's entry and the kept parses across stores: anyone else
  // would see the change.
  if (!ParsedStreams::Instance().DropIfOnly(part, 2)) return nullptr;
  version = kept->second.version;
  const std::shared_ptr<const PropertySetStream> stream = std::move(kept->second.stream);
  streams_.erase(kept);
  // Parsed as a mutable stream; only its holders saw it const.
  return std::const_pointer_cast<PropertySetStream>(stream);
}

std::shared_ptr<PropertySetCache> PropertySetCache::For(const std::shared_ptr<StreamStore>& store) {
  static std::mutex registryMutex;
  // Keyed by the store's control block, so a new store at a freed address
  // never inherits an old cache; entries go with the next call after their
  // store.
  static std::map<std::weak_ptr<StreamStore>, std::shared_ptr<PropertySetCache>,
                  std::owner_less<std::weak_ptr<StreamStore>>>
      registry;
  std::lock_guard<std::mutex> guard(registryMutex);
  for (auto it = registry.begin(); it != registry.end();) it = it->first.expired() ? registry.erase(it) : ++it;
  std::shared_ptr<PropertySetCache>& cache = registry[store];
  if (!cache) cache = std::make_shared<PropertySetCache>();
  return cache;
}

HRESULT PropertySetCache::Read(StreamStore& store, const std::u16string& name,
                               std::shared_ptr<const PropertySetStream>& out, bool whole) {
  // Asked before the read: a change that slips in between moves the version
  // on, so the stream is never kept under a version it does not belong to.
  // With nothing kept to compare, a read-only store tells it with the read.
  auto kept = streams_.find(name);
  const bool withRead = kept == streams_.end() && !whole && !store.CanWrite();
  uint64_t version = withRead ? 0 : store.ContentsVersion();
  if (version != 0 && kept != streams_.end() && kept->second.version == version &&
      !(whole && kept->second.stream && kept->second.stream->Partial())) {
    out = kept->second.stream;
    return kept->second.hr;
  }
  std::vector<uint8_t> bytes;
  HRESULT hr = S_OK;
  std::shared_ptr<const PropertySetStream> parsed;
  std::vector<UnreadValue> unread;
  if (!whole && !store.CanWrite()) {
    // Nothing will be written back: large opaque values may stay unread.
    hr = ReadPropertySetParts(store, name, bytes, unread, withRead ? &version : nullptr);
  } else {
    hr = store.ReadStream(name, bytes);
  }
  if (SUCCEEDED(hr) && !unread.empty()) {  // a partial parse is this open's alone
    auto fresh = std::make_shared<PropertySetStream>();
    if (SUCCEEDED(hr = ParsePartly(std::move(bytes), unread, *fresh))) parsed = std::move(fresh);
  }
  if (SUCCEEDED(hr) && !parsed) parsed = ParsedStreams::Instance().Find(name, bytes);
  if (SUCCEEDED(hr) && !parsed) {
    auto fresh = std::make_shared<PropertySetStream>();
    hr = PropertySetStream::Parse(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), *fresh);
    if (SUCCEEDED(hr)) {
      parsed = std::move(fresh);
      Keep(name, parsed);
    }
  }
  if (FAILED(hr)) parsed.reset();
  if (version != 0)
    streams_[name] = Kept{version, hr, parsed};
  else
    streams_.erase(name);
  out = std::move(parsed);
  return hr;
}

}  // namespace posix
}  // namespace quorvane
