// Wide text <-> the byte strings of Linux file names and environment values.
// Bytes are read as UTF-8; a byte that is not part of valid UTF-8 becomes
// U+DC80..U+DCFF (as Python's surrogateescape does) and is written back as
// that same byte, so any name the system hands us reaches the same file again.
#pragma once

#include <string>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {

std::wstring WideFromFileSystemText(const char* bytes, size_t count);
inline std::wstring WideFromFileSystemText(const std::string& bytes) {
  return WideFromFileSystemText(bytes.data(), bytes.size());
}
// Code points above U+10FFFF and other surrogates are written as U+FFFD.
std::string FileSystemTextFromWide(const WCHAR* text, size_t count);
std::string FileSystemTextFromWide(const WCHAR* text);

// Appends the UTF-8 form of a code point up to U+10FFFF; surrogates are
// written as they are (three bytes each), no escape is undone.
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace posix
}  // namespace quorvane
