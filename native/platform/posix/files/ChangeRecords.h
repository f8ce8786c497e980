// The change records of ReadDirectoryChangesW as bytes, laid out as Windows
// lays out FILE_NOTIFY_INFORMATION: little-endian NextEntryOffset, Action
// and FileNameLength (bytes), then the name in UTF-16LE without terminator,
// padded with zeros to the next DWORD boundary. The last record's
// NextEntryOffset is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace quorvane {
namespace posix {
namespace files {

constexpr size_t kRecordNextEntryOffset = 0;
constexpr size_t kRecordAction = 4;
constexpr size_t kRecordFileNameLength = 8;
constexpr size_t kRecordFileName = 12;

// One change waiting to be handed out; `name` is relative to the watched
// folder, '/' between folder levels.
struct Change {
  uint32_t action;
  std::u16string name;
};

// Bytes one record takes, padding included.
size_t RecordSize(const Change& change);

// Writes the leading records of `changes` that fit whole into `capacity`
// bytes at `out`; returns the bytes written and how many records in `taken`
// (0 when not even the first fits).
size_t WriteRecords(const std::deque<Change>& changes, uint8_t* out, size_t capacity, size_t* taken);

// A Linux name (FileSystemText.h bytes) as UTF-16.
std::u16string Utf16FromFileSystemText(const std::string& bytes);

}  // namespace files
}  // namespace posix
}  // namespace quorvane
