// Property sets as sections of the streams of a StreamStore: loading one
// set, storing it back merged into whatever else its stream holds (the
// user-defined set is the second section of "\005DocumentSummaryInformation"
// and never disturbs the first), and deleting it. Streams are read through
// the store's PropertySetCache, under its lock; the store's own guarantees
// (atomic stream replacement) apply to each call.
#pragma once

#include <memory>

#include "../StreamStore.h"
#include "PropertySetCache.h"
#include "PropertySetStream.h"

namespace quorvane {
namespace posix {

struct LoadedPropertySet {
  std::shared_ptr<const PropertySection> section;  // shared with the cache: copy before changing
  CLSID clsid{};
  uint32_t systemIdentifier = 0;
  // What the stream holds besides this section: its header and the other set.
  size_t otherBytes = 0;
};

// A stream whose section its holder changes in place, and the store's
// ContentsVersion when it was read: while the store is still at that version
// its other sections are current and StorePropertySet need not read it again.
struct HeldStream {
  std::shared_ptr<const PropertySetStream> stream;
  uint64_t version = 0;
};

// STG_E_FILENOTFOUND when the stream or the section is absent; the parse
// errors of PropertySetStream otherwise. A store that cannot be written
// may leave large opaque values unread (see PropertySection::Unread) unless
// `whole` is asked for.
HRESULT LoadPropertySet(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid, LoadedPropertySet& out,
                        bool whole = false);
// Replaces the set's section (adding the stream, or an empty document
// summary section before a user-defined one, as needed) and sets the
// stream's CLSID when `clsid` is given. STG_E_MEDIUMFULL, with nothing
// written, when oleps::StreamTooLarge refuses the stream it would leave.
// `section` is borrowed for the write and is as it was when the call returns;
// with `written`, a write that succeeds moves it into the stream it wrote,
// kept for the next open, and `written` shows it there as LoadPropertySet would.
HRESULT StorePropertySet(StreamStore& store, PropertySetCache& cache, PropertySection& section, const CLSID* clsid,
                         LoadedPropertySet* written = nullptr, const HeldStream* held = nullptr);
// A set created but not stored yet, as LoadPropertySet would give it once
// StorePropertySet(section, clsid) had run; nothing is written. Fails as
// StorePropertySet would on a stream it cannot read.
HRESULT PlanPropertySet(StreamStore& store, PropertySetCache& cache, PropertySection section, const CLSID* clsid,
                        LoadedPropertySet& out);
// STG_E_FILENOTFOUND when the set does not exist. The user-defined set
// leaves the stream's first section as it was; deleting the document summary
// set keeps a user-defined set behind it (with an empty first section).
HRESULT DeletePropertySet(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid);
// Whether the set exists (a stream that does not parse counts as existing).
bool PropertySetExists(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid);

}  // namespace posix
}  // namespace quorvane
