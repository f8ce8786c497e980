#include "FileSystemText.h"

#include <cwchar>

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kEscapeBase = 0xDC00;  // U+DC80..U+DCFF stand for bytes 0x80..0xFF

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0 if invalid.
size_t ValidSequence(const unsigned char* p, size_t left, uint32_t* codePoint) {
  const unsigned char b = p[0];
  size_t length;
  uint32_t cp, minimum;
  if (b < 0x80) {
    *codePoint = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    length = 2, cp = b & 0x1F, minimum = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3, cp = b & 0x0F, minimum = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4, cp = b & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (length > left) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return length;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::wstring WideFromFileSystemText(const char* bytes, size_t count) {
  std::wstring out;
  out.reserve(count);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < count) {
    uint32_t cp;
    const size_t length = ValidSequence(p + i, count - i, &cp);
    if (length == 0) {
      out += static_cast<wchar_t>(kEscapeBase + p[i]);
      ++i;
    } else {
      out += static_cast<wchar_t>(cp);
      i += length;
    }
  }
  return out;
}

std::string FileSystemTextFromWide(const WCHAR* text, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t cp = static_cast<uint32_t>(text[i]);
    if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF)
      out += static_cast<char>(cp - kEscapeBase);
    else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      AppendUtf8(out, 0xFFFD);
    else
      AppendUtf8(out, cp);
  }
  return out;
}

std::string FileSystemTextFromWide(const WCHAR* text) {
  return text ? FileSystemTextFromWide(text, std::wcslen(text)) : std::string();
}

}  // namespace posix
}  // namespace quorvane
