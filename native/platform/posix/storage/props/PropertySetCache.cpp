#include "PropertySetCache.h"

#include <new>

namespace quorvane {
namespace posix {

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
                               std::shared_ptr<const PropertySetStream>& out) {
  // Asked before the read: a change that slips in between moves the version
  // on, so the stream is never kept under a version it does not belong to.
  const uint64_t version = store.ContentsVersion();
  auto kept = streams_.find(name);
  if (version != 0 && kept != streams_.end() && kept->second.version == version) {
    out = kept->second.stream;
    return kept->second.hr;
  }
  std::vector<uint8_t> bytes;
  HRESULT hr = store.ReadStream(name, bytes);
  auto parsed = std::make_shared<PropertySetStream>();
  if (SUCCEEDED(hr)) hr = PropertySetStream::Parse(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), *parsed);
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
