// A section's dictionary names (as keys: folded unless the set is
// case-sensitive) to ids, in one open-addressed table and one text buffer. A
// whole set written back looks up every one of its thousands of names: a
// node and a string per name cost a cache miss or two more per lookup than a
// slot beside its neighbours.
#pragma once

#include <cstdint>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "../PropIdl.h"

namespace quorvane {
namespace posix {

class NameIndex {
 public:
  void Clear() {
    slots_.clear();
    text_.clear();
    live_ = 0;
    count_ = 0;
  }
  void Reserve(size_t count) {
    if (count * 2 > slots_.size()) Rehash(count);
  }
  size_t Size() const { return count_; }

  // False (and nothing changed) when the key is there already.
  bool Emplace(const std::wstring& key, PROPID id) {
    const uint64_t hash = Hash(key);
    if (Locate(key, hash) != kNone) return false;
    if ((count_ + 1) * 2 > slots_.size()) Rehash(count_ + 1);
    if (text_.size() > 2 * kMinText && text_.size() > 4 * live_) Compact();
    size_t at = hash & (slots_.size() - 1);
    while (slots_[at].length != kEmpty) at = (at + 1) & (slots_.size() - 1);
    slots_[at] = Slot{hash, static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(key.size()), id};
    text_.append(key);
    live_ += key.size();
    ++count_;
    return true;
  }

  bool Find(const std::wstring& key, PROPID& id) const {
    const size_t at = Locate(key, Hash(key));
    if (at == kNone) return false;
    id = slots_[at].id;
    return true;
  }

  // Removes the key only while it leads to `id`.
  void EraseIf(const std::wstring& key, PROPID id) {
    size_t at = Locate(key, Hash(key));
    if (at == kNone || slots_[at].id != id) return;
    live_ -= slots_[at].length;
    --count_;
    // Moves later members of the run back over the gap, so that no lookup
    // stops at it short of its key.
    const size_t mask = slots_.size() - 1;
    for (size_t next = (at + 1) & mask; slots_[next].length != kEmpty; next = (next + 1) & mask) {
      // It stays when its home lies after the gap (around the end too).
      const size_t home = slots_[next].hash & mask;
      if (((next - home) & mask) < ((next - at) & mask)) continue;
      slots_[at] = slots_[next];
      at = next;
    }
    slots_[at] = Slot{};
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr size_t kNone = SIZE_MAX;
  static constexpr size_t kMinText = 4096;
  struct Slot {
    uint64_t hash = 0;
    uint32_t offset = 0;
    uint32_t length = kEmpty;
    PROPID id = 0;
  };

  static uint64_t Hash(const std::wstring& key) {
    uint64_t h = 14695981039346656037ull;
    for (const wchar_t c : key) h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
    return h ^ (h >> 32);
  }

  size_t Locate(const std::wstring& key, uint64_t hash) const {
    if (slots_.empty()) return kNone;
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask; slots_[at].length != kEmpty; at = (at + 1) & mask) {
      const Slot& slot = slots_[at];
      if (slot.hash == hash && slot.length == key.size() &&
          std::wmemcmp(text_.data() + slot.offset, key.data(), key.size()) == 0)
        return at;
    }
    return kNone;
  }

  void Rehash(size_t count) {
    size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.length == kEmpty) continue;
      size_t at = slot.hash & (capacity - 1);
      while (slots_[at].length != kEmpty) at = (at + 1) & (capacity - 1);
      slots_[at] = slot;
    }
  }

  // Drops the text of erased keys.
  void Compact() {
    std::wstring kept;
    kept.reserve(live_);
    for (Slot& slot : slots_) {
      if (slot.length == kEmpty) continue;
      const size_t offset = kept.size();
      kept.append(text_, slot.offset, slot.length);
      slot.offset = static_cast<uint32_t>(offset);
    }
    text_.swap(kept);
  }

  std::vector<Slot> slots_;
  std::wstring text_;  // every key's units, one after another
  size_t live_ = 0;    // units of text_ that belong to a key still indexed
  size_t count_ = 0;
};

}  // namespace posix
}  // namespace quorvane
