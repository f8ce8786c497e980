// The version resource of a PE file (Windows executables and DLLs, 32- and
// 64-bit), found as the Windows loader finds it: the resource directory of
// the optional header's data directory 2, type RT_VERSION (16), the first
// name, the first language. Every length and offset is checked against the
// bytes really read, and the three directory levels are walked at most once
// each, so no file, however made, is read outside its bounds or loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvane {
namespace posix {

// Reads `count` bytes at `offset` of the file; false when they are not all there.
using ReadAt = std::function<bool(uint64_t offset, void* out, size_t count)>;

// The resource's bytes; false for a file that is not a PE file or has no
// version resource (or one that lies outside the file, or is too short for
// the VS_VERSIONINFO header).
bool ReadPeVersionResource(const ReadAt& read, std::vector<uint8_t>* resource);

// The VS_FIXEDFILEINFO (52 bytes, signature 0xFEEF04BD) at the root of a
// VS_VERSIONINFO block of `size` bytes; null when there is none.
const uint8_t* FindFixedFileInfo(const uint8_t* block, size_t size);

}  // namespace posix
}  // namespace quorvane
