#include "ChangeRecords.h"

#include <cstring>

#include "../text/FileSystemText.h"

namespace quorvane {
namespace posix {
namespace files {
namespace {

void Store32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

size_t RecordSize(const Change& change) { return (kRecordFileName + change.name.size() * 2 + 3) & ~size_t(3); }

size_t WriteRecords(const std::deque<Change>& changes, uint8_t* out, size_t capacity, size_t* taken) {
  size_t used = 0, last = 0;
  *taken = 0;
  for (const Change& change : changes) {
    const size_t size = RecordSize(change);
    if (size > capacity - used) break;
    uint8_t* record = out + used;
    std::memset(record, 0, size);
    Store32(record + kRecordNextEntryOffset, static_cast<uint32_t>(size));
    Store32(record + kRecordAction, change.action);
    Store32(record + kRecordFileNameLength, static_cast<uint32_t>(change.name.size() * 2));
    for (size_t i = 0; i < change.name.size(); ++i) {
      record[kRecordFileName + 2 * i] = static_cast<uint8_t>(change.name[i]);
      record[kRecordFileName + 2 * i + 1] = static_cast<uint8_t>(change.name[i] >> 8);
    }
    last = used;
    used += size;
    ++*taken;
  }
  if (*taken > 0) Store32(out + last + kRecordNextEntryOffset, 0);
  return used;
}

std::u16string Utf16FromFileSystemText(const std::string& bytes) {
  const std::wstring wide = WideFromFileSystemText(bytes);
  std::u16string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code < 0x10000) {
      out.push_back(static_cast<char16_t>(code));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

}  // namespace files
}  // namespace posix
}  // namespace quorvane
