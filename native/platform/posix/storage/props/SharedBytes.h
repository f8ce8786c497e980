// A run of bytes that is either owned or a window on a buffer shared with
// others: the values of a parsed property set point into the stream they were
// read from, so opening a set copies none of them, however large (a document's
// thumbnail is often hundreds of kilobytes that no read ever asks for).
//
// A value object; the bytes it shows never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvane {
namespace posix {

using SharedBuffer = std::shared_ptr<const std::vector<uint8_t>>;

class SharedBytes {
 public:
  SharedBytes() = default;
  // Owns `bytes`.
  SharedBytes(std::vector<uint8_t>&& bytes)  // NOLINT(google-explicit-constructor): a value is assigned bytes
      : SharedBytes(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))) {}
  // All of `buffer`, or [offset, offset + size) of it; the caller has checked
  // that the window lies within the buffer.
  explicit SharedBytes(SharedBuffer buffer) : buffer_(std::move(buffer)), size_(buffer_ ? buffer_->size() : 0) {}
  SharedBytes(SharedBuffer buffer, size_t offset, size_t size)
      : buffer_(std::move(buffer)), offset_(offset), size_(size) {}

  const uint8_t* data() const { return buffer_ ? buffer_->data() + offset_ : nullptr; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t operator[](size_t i) const { return data()[i]; }
  std::vector<uint8_t> Copy() const { return std::vector<uint8_t>(data(), data() + size_); }
  // A window on part of these bytes, sharing them.
  SharedBytes Window(size_t offset, size_t size) const { return SharedBytes(buffer_, offset_ + offset, size); }

 private:
  SharedBuffer buffer_;
  size_t offset_ = 0;
  size_t size_ = 0;
};

}  // namespace posix
}  // namespace quorvane
