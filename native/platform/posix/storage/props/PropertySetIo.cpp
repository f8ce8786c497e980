#include "PropertySetIo.h"

#include "FmtidNames.h"

namespace quorvane {
namespace posix {

namespace {

HRESULT ReadSetStream(StreamStore& store, const FMTID& fmtid, PropertySetStream& stream) {
  std::vector<uint8_t> bytes;
  const HRESULT hr = store.ReadStream(PropertySetStreamName(fmtid), bytes);
  if (FAILED(hr)) return hr;
  return PropertySetStream::Parse(bytes, stream);
}

// The index the set has in its stream's sections, or -1.
int IndexOf(const PropertySetStream& stream, const FMTID& fmtid) {
  const size_t index = PropertySetSectionIndex(fmtid);
  const auto& sections = stream.Sections();
  return index < sections.size() && sections[index].Fmtid() == fmtid ? static_cast<int>(index) : -1;
}

}  // namespace

HRESULT LoadPropertySet(StreamStore& store, const FMTID& fmtid, LoadedPropertySet& out) {
  PropertySetStream stream;
  const HRESULT hr = ReadSetStream(store, fmtid, stream);
  if (FAILED(hr)) return hr;
  const int index = IndexOf(stream, fmtid);
  if (index < 0) return STG_E_FILENOTFOUND;
  out.section = stream.Sections()[static_cast<size_t>(index)];
  out.clsid = stream.Clsid();
  out.systemIdentifier = stream.SystemIdentifier();
  return S_OK;
}

bool PropertySetExists(StreamStore& store, const FMTID& fmtid) {
  PropertySetStream stream;
  const HRESULT hr = ReadSetStream(store, fmtid, stream);
  if (hr == STG_E_FILENOTFOUND) return false;
  if (FAILED(hr)) return true;
  return IndexOf(stream, fmtid) >= 0;
}

HRESULT StorePropertySet(StreamStore& store, const PropertySection& section, const CLSID* clsid) {
  const FMTID& fmtid = section.Fmtid();
  PropertySetStream stream;
  HRESULT hr = ReadSetStream(store, fmtid, stream);
  if (hr == STG_E_FILENOTFOUND) {
    stream = PropertySetStream::Create(clsid ? *clsid : CLSID{});
  } else if (FAILED(hr)) {
    return hr;  // never overwrite a stream we cannot read
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
  return store.WriteStream(PropertySetStreamName(fmtid), stream.Serialize());
}

HRESULT DeletePropertySet(StreamStore& store, const FMTID& fmtid) {
  PropertySetStream stream;
  HRESULT hr = ReadSetStream(store, fmtid, stream);
  if (FAILED(hr) && hr != STG_E_FILENOTFOUND) {
    // A stream that does not parse can still be removed as a whole.
    return PropertySetSectionIndex(fmtid) == 0 ? store.DeleteStream(PropertySetStreamName(fmtid)) : hr;
  }
  if (FAILED(hr)) return hr;
  const int index = IndexOf(stream, fmtid);
  if (index < 0) return STG_E_FILENOTFOUND;
  auto& sections = stream.Sections();
  if (fmtid == FMTID_UserDefinedProperties) {
    sections.resize(1);
  } else if (fmtid == FMTID_DocSummaryInformation && sections.size() == 2) {
    sections[0] = PropertySection::Create(FMTID_DocSummaryInformation, sections[1].CodePage(), false);
  } else {
    return store.DeleteStream(PropertySetStreamName(fmtid));
  }
  stream.Touch();
  return store.WriteStream(PropertySetStreamName(fmtid), stream.Serialize());
}

}  // namespace posix
}  // namespace quorvane
