// The parsed property-set streams of one store, kept for as long as the store
// lives and shared by every property-set storage opened over it: the typed
// access opens a set once per property, and each open after the first then
// costs neither a read nor a parse while the store reports its contents
// unchanged (StreamStore::ContentsVersion). Also the lock that serialises
// this process's read-merge-write of the store's property-set streams.
//
// Behind the per-store caches, parses are kept across stores and opens and
// found by the stream's bytes: a stream read again is matched with what was
// parsed byte for byte, so a change by anyone, whatever it did to the file's
// stamp, is seen, while a set written and opened again costs a read, not a
// parse.
//
// Thread-safe: For() and Keep() may be called from any thread; the other
// members only under Lock().
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
  // A store that cannot be written gives it with large opaque values unread
  // (PropertySetParts.h) unless `whole` is asked for.
  HRESULT Read(StreamStore& store, const std::u16string& name, std::shared_ptr<const PropertySetStream>& out,
               bool whole = false);
  // After a write: the kept stream is stale.
  void Forget(const std::u16string& name) { streams_.erase(name); }
  // A stream as its Original() bytes read, for any store that reads them.
  static void Keep(const std::u16string& name, std::shared_ptr<const PropertySetStream> stream);
  // Lets go of the stream that `part` (a section of it) belongs to, here and
  // across stores, so that its holder may change it: the stream when nobody
  // else holds it then, with the version it was read under (0: unknown).
  std::shared_ptr<PropertySetStream> Surrender(const std::shared_ptr<const PropertySection>& part, uint64_t& version);

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
