// The version resource of a PE file (Windows executables and DLLs, 32- and
// 64-bit), found as the Windows loader finds it: the resource directory of
// the optional header's data directory 2, type RT_VERSION (16), id 1
// (VS_VERSION_INFO), in the user's language, else a neutral one, else
// English US (0x0409), else the first. Every length and offset is checked against the
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
// `userLanguage` is a Windows language id; only its primary language counts.
bool ReadPeVersionResource(const ReadAt& read, uint16_t userLanguage, std::vector<uint8_t>* resource);

// The VS_FIXEDFILEINFO (52 bytes, signature 0xFEEF04BD) at the root of a
// VS_VERSIONINFO block of `size` bytes; null when there is none.
const uint8_t* FindFixedFileInfo(const uint8_t* block, size_t size);

}  // namespace posix
}  // namespace quorvane
