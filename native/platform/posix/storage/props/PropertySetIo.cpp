#include "PropertySetIo.h"

#include "FmtidNames.h"
#include "PropertySetFormat.h"

namespace quorvane {
namespace posix {

namespace {

using Parsed = std::shared_ptr<const PropertySetStream>;

HRESULT ReadSetStream(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid, Parsed& stream,
                      bool whole = false) {
  return cache.Read(store, PropertySetStreamName(fmtid), stream, whole);
}

HRESULT WriteSetStream(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid,
                       const PropertySetStream& stream, size_t sizeBefore, SharedBuffer* bytes = nullptr) {
  if (oleps::StreamTooLarge(sizeBefore, stream.SerializedSize())) return STG_E_MEDIUMFULL;
  const std::u16string name = PropertySetStreamName(fmtid);
  cache.Forget(name);
  if (!bytes) return store.WriteStream(name, stream.Serialize());
  *bytes = std::make_shared<const std::vector<uint8_t>>(stream.Serialize());
  return store.WriteStream(name, **bytes);
}

// The set's view of a stream, as LoadPropertySet gives it.
void Describe(const Parsed& stream, size_t index, LoadedPropertySet& out) {
  const PropertySection& section = stream->Sections()[index];
  out.section = std::shared_ptr<const PropertySection>(stream, &section);
  out.clsid = stream->Clsid();
  out.systemIdentifier = stream->SystemIdentifier();
  const size_t total = stream->SerializedSize(), own = section.SerializedSize();
  out.otherBytes = total > own ? total - own : 0;
}

// The index the set has in its stream's sections, or -1.
int IndexOf(const PropertySetStream& stream, const FMTID& fmtid) {
  const size_t index = PropertySetSectionIndex(fmtid);
  const auto& sections = stream.Sections();
  return index < sections.size() && sections[index].Fmtid() == fmtid ? static_cast<int>(index) : -1;
}

}  // namespace

HRESULT LoadPropertySet(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid, LoadedPropertySet& out,
                        bool whole) {
  Parsed stream;
  const HRESULT hr = ReadSetStream(store, cache, fmtid, stream, whole);
  if (FAILED(hr)) return hr;
  const int index = IndexOf(*stream, fmtid);
  if (index < 0) return STG_E_FILENOTFOUND;
  Describe(stream, static_cast<size_t>(index), out);
  return S_OK;
}

HRESULT PlanPropertySet(StreamStore& store, PropertySetCache& cache, PropertySection section, const CLSID* clsid,
                        LoadedPropertySet& out) {
  Parsed stream;
  const HRESULT hr = ReadSetStream(store, cache, section.Fmtid(), stream);
  if (FAILED(hr) && hr != STG_E_FILENOTFOUND) return hr;
  out.clsid = clsid ? *clsid : (stream ? stream->Clsid() : CLSID{});
  out.systemIdentifier = stream ? stream->SystemIdentifier() : 0;
  out.otherBytes = 0;
  if (stream) {
    const int index = IndexOf(*stream, section.Fmtid());
    const size_t own = index >= 0 ? stream->Sections()[static_cast<size_t>(index)].SerializedSize() : 0;
    out.otherBytes = stream->SerializedSize() - own;
  }
  out.section = std::make_shared<const PropertySection>(std::move(section));
  return S_OK;
}

bool PropertySetExists(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid) {
  Parsed stream;
  const HRESULT hr = ReadSetStream(store, cache, fmtid, stream);
  if (hr == STG_E_FILENOTFOUND) return false;
  if (FAILED(hr)) return true;
  return IndexOf(*stream, fmtid) >= 0;
}

HRESULT StorePropertySet(StreamStore& store, PropertySetCache& cache, PropertySection& section, const CLSID* clsid,
                         LoadedPropertySet* written, const HeldStream* held) {
  const FMTID fmtid = section.Fmtid();  // a copy: the section is swapped out below
  Parsed parsed;
  HRESULT hr = S_OK;
  if (held && held->stream && held->version != 0 && store.ContentsVersion() == held->version)
    parsed = held->stream;  // `section` may be one of its sections: it is not copied below
  else
    hr = ReadSetStream(store, cache, fmtid, parsed);
  PropertySetStream stream;
  size_t sizeBefore = 0;
  int existing = -1;
  if (hr == STG_E_FILENOTFOUND) {
    stream = PropertySetStream::Create(clsid ? *clsid : CLSID{});
  } else if (FAILED(hr)) {
    return hr;  // never overwrite a stream we cannot read
  } else {
    existing = IndexOf(*parsed, fmtid);
    stream = parsed->CopyWithout(existing);  // the set's old section is about to be replaced
    // As read: a held stream's own section may have changed since.
    sizeBefore = parsed->Original() ? parsed->Original()->size() : parsed->SerializedSize();
  }
  // The section is lent to the stream for the write (swapped in, then back):
  // a set of thousands of properties is never copied for it.
  auto& sections = stream.Sections();
  const size_t index = PropertySetSectionIndex(fmtid);
  size_t slot = 0;
  if (index == 1) {
    if (sections.empty() || sections[0].Fmtid() != FMTID_DocSummaryInformation) {
      sections.insert(sections.begin(),
                      PropertySection::Create(FMTID_DocSummaryInformation, section.CodePage(), false));
      stream.Touch();
    }
    if (sections.size() > 2) sections.resize(2);
    if (sections.size() < 2) {
      sections.emplace_back();
      stream.Touch();
    }
    slot = 1;
  } else if (existing != 0) {
    // A new set; only the document summary stream may carry a second one.
    const bool keepUserSet = fmtid == FMTID_DocSummaryInformation && !sections.empty() &&
                             sections.back().Fmtid() == FMTID_UserDefinedProperties;
    std::vector<PropertySection> rebuilt(1);
    if (keepUserSet) rebuilt.push_back(std::move(sections.back()));
    sections = std::move(rebuilt);
    stream.Touch();
  }
  if (clsid) stream.SetClsid(*clsid);
  std::swap(sections[slot], section);
  SharedBuffer bytes;
  hr = WriteSetStream(store, cache, fmtid, stream, sizeBefore, written ? &bytes : nullptr);
  if (FAILED(hr) || !written) {
    std::swap(sections[slot], section);
    return hr;
  }
  // What was written is what the next open would parse: it is kept as such.
  stream.Rebase(std::move(bytes));
  const auto kept = std::make_shared<const PropertySetStream>(std::move(stream));
  PropertySetCache::Keep(PropertySetStreamName(fmtid), kept);
  Describe(kept, slot, *written);
  return hr;
}

HRESULT DeletePropertySet(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid) {
  Parsed parsed;
  HRESULT hr = ReadSetStream(store, cache, fmtid, parsed);
  const std::u16string name = PropertySetStreamName(fmtid);
  if (FAILED(hr) && hr != STG_E_FILENOTFOUND) {
    // A stream that does not parse can still be removed as a whole.
    if (PropertySetSectionIndex(fmtid) != 0) return hr;
    cache.Forget(name);
    return store.DeleteStream(name);
  }
  if (FAILED(hr)) return hr;
  PropertySetStream stream = *parsed;
  const int index = IndexOf(stream, fmtid);
  if (index < 0) return STG_E_FILENOTFOUND;
  auto& sections = stream.Sections();
  if (fmtid == FMTID_UserDefinedProperties) {
    sections.resize(1);
  } else if (fmtid == FMTID_DocSummaryInformation && sections.size() == 2) {
    sections[0] = PropertySection::Create(FMTID_DocSummaryInformation, sections[1].CodePage(), false);
  } else {
    cache.Forget(name);
    return store.DeleteStream(name);
  }
  stream.Touch();
  cache.Forget(name);
  return store.WriteStream(name, stream.Serialize());
}

}  // namespace posix
}  // namespace quorvane
