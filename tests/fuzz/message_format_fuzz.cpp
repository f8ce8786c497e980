// libFuzzer target over the message formatter: a format of any text with
// 0..15 valid wide-string inserts in an array of exactly that size
// (AddressSanitizer sees any read past it); it must format or refuse.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MessageFormatter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t count = data[0] % 16;
  // The rest is the format, one character per byte, with a few bytes mapped
  // to the characters the convention cares about so they come up often.
  std::wstring format;
  for (size_t i = 1; i < size; ++i) {
    const uint8_t b = data[i];
    switch (b) {
      case 0xF0: format += L'%'; break;
      case 0xF1: format += L'!'; break;
      case 0xF2: format += L'*'; break;
      case 0xF3: format += static_cast<wchar_t>(0x4E2D); break;
      case 0xF4: format += static_cast<wchar_t>(0x1F600); break;
      default: format += b == 0 ? L'0' : static_cast<wchar_t>(b);
    }
  }
  std::vector<std::wstring> texts;
  for (size_t i = 0; i < count; ++i) texts.push_back(std::wstring(i, L'a' + static_cast<wchar_t>(i)));
  std::unique_ptr<DWORD_PTR[]> inserts(count ? new DWORD_PTR[count] : nullptr);
  for (size_t i = 0; i < count; ++i) inserts[i] = reinterpret_cast<DWORD_PTR>(texts[i].c_str());
  std::wstring out;
  DWORD error = 0;
  if (!quorvane::FormatMessageText(format.c_str(), inserts.get(), count, out, &error)) {
    if (error != ERROR_INVALID_PARAMETER) std::abort();
  }
  return 0;
}
