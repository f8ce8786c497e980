// Bounds-checked little-endian access to property-set bytes. A reader never
// reads past its end: every Read* answers false instead, leaving the
// position where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../../base/WinTypes.h"

namespace quorvane {
namespace posix {

// Borrows the bytes; they must outlive the reader. Not thread-safe.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }
  const uint8_t* Here() const { return data_ + pos_; }
  bool Seek(size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }
  bool Skip(size_t n) {
    if (n > Remaining()) return false;
    pos_ += n;
    return true;
  }
  bool ReadU8(uint8_t& v) { return ReadRaw(&v, 1); }
  bool ReadU16(uint16_t& v) {
    uint8_t b[2];
    if (!ReadRaw(b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
  }
  bool ReadU32(uint32_t& v) {
    uint8_t b[4];
    if (!ReadRaw(b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
        (static_cast<uint32_t>(b[3]) << 24);
    return true;
  }
  bool ReadU64(uint64_t& v) {
    uint32_t lo, hi;
    const size_t at = pos_;
    if (!ReadU32(lo) || !ReadU32(hi)) {
      pos_ = at;
      return false;
    }
    v = (static_cast<uint64_t>(hi) << 32) | lo;
    return true;
  }
  bool ReadGuid(GUID& g) {
    if (Remaining() < 16) return false;
    ReadU32(g.Data1);
    ReadU16(g.Data2);
    ReadU16(g.Data3);
    return ReadRaw(g.Data4, 8);
  }
  bool ReadRaw(void* out, size_t n) {
    if (n > Remaining()) return false;
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  // Skips up to the next multiple of 4 from `origin`, but only over zero
  // bytes: some writers leave strings inside vectors unpadded.
  void SkipZeroPaddingFrom(size_t origin) {
    size_t pad = (4 - (pos_ - origin) % 4) % 4;
    while (pad-- > 0 && pos_ < size_ && data_[pos_] == 0) ++pos_;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Appends little-endian values to a byte vector it does not own.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  size_t Position() const { return out_.size(); }
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Guid(const GUID& g) {
    U32(g.Data1);
    U16(g.Data2);
    U16(g.Data3);
    Raw(g.Data4, 8);
  }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void PadTo4From(size_t origin) {
    while ((out_.size() - origin) % 4 != 0) out_.push_back(0);
  }
  void PatchU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace posix
}  // namespace quorvane
