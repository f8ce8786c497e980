#include "PropertySetStream.h"

#include "ByteCursor.h"
#include "PropertySetFormat.h"

namespace quorvane {
namespace posix {

using namespace oleps;

HRESULT PropertySetStream::Parse(const std::vector<uint8_t>& bytes, PropertySetStream& out) {
  return Parse(std::make_shared<const std::vector<uint8_t>>(bytes), out);
}

HRESULT PropertySetStream::Parse(SharedBuffer shared, PropertySetStream& out) {
  const std::vector<uint8_t>& bytes = *shared;
  ByteReader r(bytes.data(), bytes.size());
  PropertySetStream stream;
  uint16_t byteOrder;
  uint32_t sectionCount;
  if (!r.ReadU16(byteOrder) || byteOrder != kByteOrderMark) return STG_E_INVALIDHEADER;
  if (!r.ReadU16(stream.version_) || stream.version_ > kVersion1) return STG_E_INVALIDHEADER;
  if (!r.ReadU32(stream.systemIdentifier_) || !r.ReadGuid(stream.clsid_) || !r.ReadU32(sectionCount))
    return STG_E_INVALIDHEADER;
  if (sectionCount < 1 || sectionCount > kMaxSections) return STG_E_INVALIDHEADER;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    FMTID fmtid;
    uint32_t offset;
    if (!r.ReadGuid(fmtid) || !r.ReadU32(offset)) return STG_E_INVALIDHEADER;
    const size_t headerEnd = kFmtidOffsetPairsOffset + sectionCount * kFmtidOffsetPairSize;
    if (offset < headerEnd || offset >= bytes.size()) return STG_E_INVALIDHEADER;
    PropertySection section;
    const HRESULT hr = PropertySection::Parse(fmtid, shared, offset, section);
    if (FAILED(hr)) return hr;
    stream.sections_.push_back(std::move(section));
  }
  stream.original_ = std::move(shared);
  stream.headerModified_ = false;
  out = std::move(stream);
  return S_OK;
}

PropertySetStream PropertySetStream::Create(const CLSID& clsid) {
  PropertySetStream stream;
  stream.version_ = kVersion0;
  stream.systemIdentifier_ = kDefaultSystemIdentifier;
  stream.clsid_ = clsid;
  return stream;
}

PropertySetStream PropertySetStream::CopyWithout(int skip) const {
  PropertySetStream copy;
  copy.version_ = version_;
  copy.systemIdentifier_ = systemIdentifier_;
  copy.clsid_ = clsid_;
  copy.original_ = original_;
  copy.headerModified_ = headerModified_;
  copy.sections_.reserve(sections_.size());
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (static_cast<int>(i) == skip)
      copy.sections_.emplace_back();
    else
      copy.sections_.push_back(sections_[i]);
  }
  return copy;
}

void PropertySetStream::SetClsid(const CLSID& clsid) {
  if (clsid == clsid_) return;
  clsid_ = clsid;
  headerModified_ = true;
}

PropertySection* PropertySetStream::FindSection(const FMTID& fmtid) {
  for (PropertySection& s : sections_)
    if (s.Fmtid() == fmtid) return &s;
  return nullptr;
}

bool PropertySetStream::Modified() const {
  bool modified = headerModified_ || !original_ || original_->empty();
  for (const PropertySection& s : sections_) modified = modified || s.Modified();
  return modified;
}

size_t PropertySetStream::SerializedSize() const {
  if (!Modified()) return original_->size();
  size_t size = kFmtidOffsetPairsOffset + sections_.size() * kFmtidOffsetPairSize;
  for (const PropertySection& s : sections_) size += PaddingTo4(size) + s.SerializedSize();
  return size;
}

void PropertySetStream::Rebase(SharedBuffer bytes) {
  ByteReader r(bytes->data() + kFmtidOffsetPairsOffset, bytes->size() - kFmtidOffsetPairsOffset);
  for (PropertySection& s : sections_) {
    FMTID fmtid;
    uint32_t offset = 0;
    r.ReadGuid(fmtid);
    r.ReadU32(offset);
    s.Rebase(bytes, offset);
  }
  for (const PropertySection& s : sections_)
    if (s.NeedsVersion1()) version_ = kVersion1;
  original_ = std::move(bytes);
  headerModified_ = false;
}

std::vector<uint8_t> PropertySetStream::Serialize(bool forceRelayout) const {
  uint16_t version = version_;
  for (const PropertySection& s : sections_)
    if (s.NeedsVersion1()) version = kVersion1;
  if (!forceRelayout && !Modified()) return *original_;
  std::vector<uint8_t> out;
  out.reserve(SerializedSize());
  ByteWriter w(out);
  w.U16(kByteOrderMark);
  w.U16(version);
  w.U32(systemIdentifier_);
  w.Guid(clsid_);
  w.U32(static_cast<uint32_t>(sections_.size()));
  const size_t pairs = w.Position();
  for (const PropertySection& s : sections_) {
    w.Guid(s.Fmtid());
    w.U32(0);
  }
  for (size_t i = 0; i < sections_.size(); ++i) {
    w.PadTo4From(0);
    w.PatchU32(pairs + i * kFmtidOffsetPairSize + 16, static_cast<uint32_t>(w.Position()));
    sections_[i].AppendTo(out, forceRelayout);
  }
  return out;
}

}  // namespace posix
}  // namespace quorvane
