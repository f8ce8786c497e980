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

// What a property-set storage and its open sets share: the store, and which
// sets are open (each set is open at most once at a time, as a stream opened
// STGM_SHARE_EXCLUSIVE). Thread-safe; stream reads and writes of this
// process are serialised by IoLock so that two sets sharing a stream never
// interleave their read-merge-write.
class PropertySetContext {
 public:
  explicit PropertySetContext(std::shared_ptr<StreamStore> store) : store_(std::move(store)) {}
  StreamStore& Store() { return *store_; }
  std::unique_lock<std::mutex> IoLock() { return std::unique_lock<std::mutex>(io_); }
  // False when the set is already open.
  bool Claim(const FMTID& fmtid);
  void Unclaim(const FMTID& fmtid);

 private:
  std::shared_ptr<StreamStore> store_;
  std::mutex io_;
  std::mutex claims_;
  std::vector<FMTID> open_;
};

// One open property set. Holds the set's section in memory; changes reach
// the store on Commit and, unless opened STGM_TRANSACTED, when the last
// reference goes (direct mode, as Windows does). Reference counting is
// atomic; the other methods are for one thread at a time. Text values
// (VT_LPSTR) are handed out and taken in the system ANSI code page and kept
// in the set's own code page; a single-byte set that cannot hold new text is
// widened to UTF-8 (65001) rather than losing characters.
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

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<PropertySetContext> context_;
  LoadedPropertySet set_;
  const bool writable_;
  const bool transacted_;
  bool dirty_;
};

}  // namespace posix
}  // namespace quorvane
