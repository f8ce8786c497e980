// IPropertyStorage over one property set of a StreamStore, and the state it
// shares with the IPropertySetStorage that opened it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "../StreamStore.h"
#include "PropertySetIo.h"

namespace quorvane {
namespace posix {

// What a property-set storage and its open sets share: the store, its cache
// of parsed streams, and which sets are open (each set is open at most once
// at a time, as a stream opened STGM_SHARE_EXCLUSIVE). Thread-safe; stream
// reads and writes of this process are serialised by IoLock (the store's
// cache lock) so that two sets sharing a stream never interleave their
// read-merge-write.
class PropertySetContext {
 public:
  explicit PropertySetContext(std::shared_ptr<StreamStore> store)
      : store_(std::move(store)), cache_(PropertySetCache::For(store_)) {}
  StreamStore& Store() { return *store_; }
  PropertySetCache& Cache() { return *cache_; }
  std::unique_lock<std::mutex> IoLock() { return cache_->Lock(); }
  // False when the set is already open.
  bool Claim(const FMTID& fmtid);
  void Unclaim(const FMTID& fmtid);

 private:
  std::shared_ptr<StreamStore> store_;
  std::shared_ptr<PropertySetCache> cache_;
  std::mutex claims_;
  std::vector<FMTID> open_;
};

// One open property set. Holds the set's section in memory; changes reach
// the store on Commit and, unless opened STGM_TRANSACTED, when the last
// reference goes (direct mode, as Windows does). Reference counting is
// atomic; the other methods are for one thread at a time. Text values
// (VT_LPSTR) are handed out and taken in the system ANSI code page and kept
// in the set's own code page; a single-byte set that cannot hold new text is
// widened to UTF-8 (65001) rather than losing characters. A write that would
// leave the set's stream too long (oleps::StreamTooLarge) fails with
// STG_E_MEDIUMFULL. A write that fails changes nothing.
class PropertyStorage final : public IPropertyStorage {
 public:
  // Claims the set in `context`; the caller checked that the claim is free.
  PropertyStorage(std::shared_ptr<PropertySetContext> context, LoadedPropertySet set, bool writable,
                  bool transacted, bool dirty);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(ReadMultiple)(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) override;
  STDMETHOD(WriteMultiple)
  (ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[], PROPID propidNameFirst) override;
  STDMETHOD(DeleteMultiple)(ULONG cpspec, const PROPSPEC rgpspec[]) override;
  STDMETHOD(ReadPropertyNames)(ULONG cpropid, const PROPID rgpropid[], LPOLESTR rglpwstrName[]) override;
  STDMETHOD(WritePropertyNames)(ULONG cpropid, const PROPID rgpropid[], const LPOLESTR rglpwstrName[]) override;
  STDMETHOD(DeletePropertyNames)(ULONG cpropid, const PROPID rgpropid[]) override;
  STDMETHOD(Commit)(DWORD grfCommitFlags) override;
  STDMETHOD(Revert)() override;
  STDMETHOD(Enum)(IEnumSTATPROPSTG** ppenum) override;
  STDMETHOD(SetTimes)(const FILETIME* pctime, const FILETIME* patime, const FILETIME* pmtime) override;
  STDMETHOD(SetClass)(REFCLSID clsid) override;
  STDMETHOD(Stat)(STATPROPSETSTG* pstatpsstg) override;

 private:
  ~PropertyStorage() override;
  HRESULT Flush();
  // The id a spec names; PID_ILLEGAL for a name the set does not hold.
  HRESULT Resolve(const PROPSPEC& spec, const PropertySection& section, PROPID& id) const;
  const PropertySection& Section() const { return *set_.section; }
  // The set's own section, made at the first change (until then it is
  // shared): the parse itself when nobody else holds it, else a copy.
  PropertySection& Writable();
  // Runs `change` on the section; undoes it when it fails or when it would
  // grow the stream past the limit.
  template <typename Change>
  HRESULT Changing(Change change);
  HRESULT ApplyWrites(PropertySection& section, ULONG cpspec, const PROPSPEC rgpspec[],
                      const PROPVARIANT rgpropvar[], PROPID propidNameFirst);

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<PropertySetContext> context_;
  LoadedPropertySet set_;
  std::shared_ptr<PropertySection> own_;
  HeldStream held_;  // the stream own_ lives in when it was taken over, not copied
  const bool writable_;
  const bool transacted_;
  bool dirty_;
  // A set created in a transaction and not stored yet: what Revert goes back to.
  std::shared_ptr<const PropertySection> unstored_;
};

}  // namespace posix
}  // namespace quorvane
