// The parsed property-set streams of one store, kept for as long as the store
// lives and shared by every property-set storage opened over it: the typed
// access opens a set once per property, and each open after the first then
// costs neither a read nor a parse while the store reports its contents
// unchanged (StreamStore::ContentsVersion). Also the lock that serialises
// this process's read-merge-write of the store's property-set streams.
//
// Thread-safe: For() may be called from any thread; the other members only
// under Lock().
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "../StreamStore.h"
#include "PropertySetStream.h"

namespace quorvane {
namespace posix {

class PropertySetCache {
 public:
  static std::shared_ptr<PropertySetCache> For(const std::shared_ptr<StreamStore>& store);

  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
  // The stream parsed, or the failure of its read or parse (STG_E_FILENOTFOUND
  // when the store has no such stream). The stream must not be changed.
  HRESULT Read(StreamStore& store, const std::u16string& name, std::shared_ptr<const PropertySetStream>& out);
  // After a write: the kept stream is stale.
  void Forget(const std::u16string& name) { streams_.erase(name); }

 private:
  struct Kept {
    uint64_t version;
    HRESULT hr;
    std::shared_ptr<const PropertySetStream> stream;
  };
  std::mutex mutex_;
  std::map<std::u16string, Kept> streams_;
};

}  // namespace posix
}  // namespace quorvane
