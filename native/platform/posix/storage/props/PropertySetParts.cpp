#include "PropertySetParts.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "ByteCursor.h"
#include "PropertySetFormat.h"
#include "TypedValueCodec.h"

namespace quorvane {
namespace posix {

namespace {

using namespace oleps;

// An opaque value whose extent reaches this is left unread.
constexpr size_t kUnreadFrom = 4096;
// The type, size and clipboard format of a value: what its parse checks.
constexpr size_t kValueHead = 16;
// Parts closer than this are read as one.
constexpr size_t kJoinGap = 4096;

bool Opaque(uint16_t vt) { return vt == VT_CF || vt == VT_BLOB || vt == VT_BLOB_OBJECT; }

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  ByteReader r(bytes.data() + at, bytes.size() - at);
  uint32_t v = 0;
  r.ReadU32(v);
  return v;
}

// Plans and reads the parts of one stream; one irregular in its header or a
// table, or whose values do not keep to their extents, is read whole.
class Planner {
 public:
  Planner(std::vector<uint8_t>& bytes, const StreamStore::PartReader& read) : bytes_(bytes), read_(read) {}

  HRESULT Run() {
    const size_t size = bytes_.size();
    if (size < StreamStore::kPartsFrom) return Fetch(0, size);
    HRESULT hr = Fetch(0, std::min<size_t>(size, 4096));  // the header, often the first table too
    if (FAILED(hr)) return hr;
    std::vector<std::pair<size_t, size_t>> parts;
    bool regular = false;
    hr = PlanSections(parts, regular);
    if (FAILED(hr)) return hr;
    if (!regular) {
      unread.clear();
      return Fetch(0, size);
    }
    std::sort(parts.begin(), parts.end());
    for (size_t i = 0; i < parts.size();) {
      size_t from = parts[i].first, to = parts[i].second;
      for (++i; i < parts.size() && parts[i].first <= to + kJoinGap; ++i) to = std::max(to, parts[i].second);
      if (FAILED(hr = Fetch(from, to))) return hr;
    }
    if (unread.empty() || ValuesKeepToExtents()) return S_OK;
    unread.clear();
    return Fetch(0, size);
  }

  // (section index, id) of the values left unread.
  std::vector<std::pair<size_t, PROPID>> unread;

 private:
  // Reads [from, to) unless the prefix read first holds it.
  HRESULT Fetch(size_t from, size_t to) {
    from = std::max(from, have_);
    if (from >= to) return S_OK;
    const HRESULT hr = read_(from, to - from, bytes_.data() + from);
    if (from == have_ && SUCCEEDED(hr)) have_ = to;
    return hr;
  }

  HRESULT PlanSections(std::vector<std::pair<size_t, size_t>>& parts, bool& regular) {
    const size_t size = bytes_.size();
    const uint32_t count = U32At(bytes_, kFmtidOffsetPairsOffset - 4);
    const size_t headerEnd = kFmtidOffsetPairsOffset + count * kFmtidOffsetPairSize;
    if (count < 1 || count > kMaxSections || headerEnd > have_) return S_OK;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t at = U32At(bytes_, kFmtidOffsetPairsOffset + i * kFmtidOffsetPairSize + 16);
      if (at < headerEnd || at + kSectionTableOffset > size) return S_OK;
      HRESULT hr = Fetch(at, at + kSectionTableOffset);
      if (FAILED(hr)) return hr;
      const size_t sectionSize = U32At(bytes_, at), slots = U32At(bytes_, at + 4);
      if (sectionSize > size - at || sectionSize < kSectionTableOffset ||
          slots > (sectionSize - kSectionTableOffset) / kIdOffsetPairSize)
        return S_OK;
      if (FAILED(hr = Fetch(at + kSectionTableOffset, at + kSectionTableOffset + slots * kIdOffsetPairSize)))
        return hr;
      // Each value runs to the next one's start or the section's end.
      std::vector<std::pair<uint32_t, PROPID>> starts;
      bool whole = false;
      for (size_t s = 0; s < slots; ++s) {
        const size_t entry = at + kSectionTableOffset + s * kIdOffsetPairSize;
        const PROPID id = U32At(bytes_, entry);
        const uint32_t offset = U32At(bytes_, entry + 4);
        if (offset < kSectionTableOffset || offset > sectionSize - kTypedValueHeaderSize) return S_OK;
        whole = whole || id == PID_DICTIONARY;  // names may run past their extent
        starts.emplace_back(offset, id);
      }
      std::sort(starts.begin(), starts.end());
      size_t next = at;  // the section from here on is read, except the values left unread
      for (size_t s = 0; s < starts.size() && !whole; ++s) {
        const size_t begin = at + starts[s].first;
        const size_t end = at + (s + 1 < starts.size() ? starts[s + 1].first : sectionSize);
        if (end - begin < kUnreadFrom) {
          readValues_.emplace_back(begin, end);
          continue;
        }
        if (FAILED(hr = Fetch(begin, begin + kValueHead))) return hr;
        const uint16_t vt = static_cast<uint16_t>(bytes_[begin] | (bytes_[begin + 1] << 8));
        if (!Opaque(vt)) {
          readValues_.emplace_back(begin, end);
          continue;
        }
        parts.emplace_back(next, begin + kValueHead);
        next = end;
        unread.emplace_back(i, starts[s].second);
      }
      parts.emplace_back(next, at + sectionSize);
    }
    regular = true;
    return S_OK;
  }

  // Whether each value read ends within its extent, so that the parse reads
  // nothing of an unread one whatever the value's bytes.
  bool ValuesKeepToExtents() const {
    for (const auto& value : readValues_) {
      const uint8_t* at = bytes_.data() + value.first;
      size_t used = 0;
      if (IsInterpretedType(static_cast<uint16_t>(at[0] | (at[1] << 8))) &&
          FAILED(MeasureTypedValue(at, value.second - value.first, used)))
        return false;
    }
    return true;
  }

  std::vector<std::pair<size_t, size_t>> readValues_;
  std::vector<uint8_t>& bytes_;
  const StreamStore::PartReader& read_;
  size_t have_ = 0;  // the prefix read
};

}  // namespace

HRESULT ReadPropertySetParts(StreamStore& store, const std::u16string& name, std::vector<uint8_t>& bytes,
                             std::vector<UnreadValue>& unread, uint64_t* version) {
  return store.ReadStreamParts(name, [&](uint64_t size, const StreamStore::PartReader& read) {
    bytes.assign(static_cast<size_t>(size), 0);
    Planner planner(bytes, read);
    const HRESULT planned = planner.Run();
    unread = std::move(planner.unread);
    return planned;
  }, version);
}

HRESULT ParsePartly(std::vector<uint8_t>&& bytes, const std::vector<UnreadValue>& unread, PropertySetStream& out) {
  const HRESULT hr = PropertySetStream::Parse(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), out);
  if (FAILED(hr)) return hr;
  for (const UnreadValue& value : unread) out.Sections()[value.first].LeaveUnread(value.second);
  return S_OK;
}

}  // namespace posix
}  // namespace quorvane
