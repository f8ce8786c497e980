#include "PropertySetIo.h"

#include "FmtidNames.h"
#include "PropertySetFormat.h"

namespace quorvane {
namespace posix {

namespace {

using Parsed = std::shared_ptr<const PropertySetStream>;

HRESULT ReadSetStream(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid, Parsed& stream) {
  return cache.Read(store, PropertySetStreamName(fmtid), stream);
}

HRESULT WriteSetStream(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid,
                       const PropertySetStream& stream, size_t sizeBefore) {
  const size_t size = stream.SerializedSize();
  if (size > oleps::kMaxStreamSize && size > sizeBefore) return STG_E_MEDIUMFULL;
  const std::u16string name = PropertySetStreamName(fmtid);
  cache.Forget(name);
  return store.WriteStream(name, stream.Serialize());
}

// The index the set has in its stream's sections, or -1.
int IndexOf(const PropertySetStream& stream, const FMTID& fmtid) {
  const size_t index = PropertySetSectionIndex(fmtid);
  const auto& sections = stream.Sections();
  return index < sections.size() && sections[index].Fmtid() == fmtid ? static_cast<int>(index) : -1;
}

}  // namespace

HRESULT LoadPropertySet(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid, LoadedPropertySet& out) {
  Parsed stream;
  const HRESULT hr = ReadSetStream(store, cache, fmtid, stream);
  if (FAILED(hr)) return hr;
  const int index = IndexOf(*stream, fmtid);
  if (index < 0) return STG_E_FILENOTFOUND;
  const PropertySection& section = stream->Sections()[static_cast<size_t>(index)];
  out.section = std::shared_ptr<const PropertySection>(stream, &section);
  out.clsid = stream->Clsid();
  out.systemIdentifier = stream->SystemIdentifier();
  const size_t total = stream->SerializedSize(), own = section.SerializedSize();
  out.otherBytes = total > own ? total - own : 0;
  return S_OK;
}

bool PropertySetExists(StreamStore& store, PropertySetCache& cache, const FMTID& fmtid) {
  Parsed stream;
  const HRESULT hr = ReadSetStream(store, cache, fmtid, stream);
  if (hr == STG_E_FILENOTFOUND) return false;
  if (FAILED(hr)) return true;
  return IndexOf(*stream, fmtid) >= 0;
}

HRESULT StorePropertySet(StreamStore& store, PropertySetCache& cache, const PropertySection& section,
                         const CLSID* clsid) {
  const FMTID& fmtid = section.Fmtid();
  Parsed parsed;
  HRESULT hr = ReadSetStream(store, cache, fmtid, parsed);
  PropertySetStream stream;
  size_t sizeBefore = 0;
  if (hr == STG_E_FILENOTFOUND) {
    stream = PropertySetStream::Create(clsid ? *clsid : CLSID{});
  } else if (FAILED(hr)) {
    return hr;  // never overwrite a stream we cannot read
  } else {
    stream = *parsed;
    sizeBefore = stream.SerializedSize();
  }
  auto& sections = stream.Sections();
  const size_t index = PropertySetSectionIndex(fmtid);
  if (index == 1) {
    if (sections.empty() || sections[0].Fmtid() != FMTID_DocSummaryInformation) {
      sections.insert(sections.begin(),
                      PropertySection::Create(FMTID_DocSummaryInformation, section.CodePage(), false));
      stream.Touch();
    }
    if (sections.size() > 2) sections.resize(2);
    if (sections.size() == 2) {
      sections[1] = section;
    } else {
      sections.push_back(section);
      stream.Touch();
    }
  } else if (!sections.empty() && sections[0].Fmtid() == fmtid) {
    sections[0] = section;
  } else {
    // A new set; only the document summary stream may carry a second one.
    const bool keepUserSet = fmtid == FMTID_DocSummaryInformation && !sections.empty() &&
                             sections.back().Fmtid() == FMTID_UserDefinedProperties;
    std::vector<PropertySection> rebuilt{section};
    if (keepUserSet) rebuilt.push_back(sections.back());
    sections = std::move(rebuilt);
    stream.Touch();
  }
  if (clsid) stream.SetClsid(*clsid);
  return WriteSetStream(store, cache, fmtid, stream, sizeBefore);
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
