// Any format with 0..15 inserts in an array of exactly that size (ASan sees a read past it) formats or is refused.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MessageFormatter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t count = data[0] % 16;
  // The rest is the format; 0xF0..0xF4 map to the characters the convention cares about, so they come up often.
  const wchar_t special[] = {L'%', L'!', L'*', static_cast<wchar_t>(0x4E2D), static_cast<wchar_t>(0x1F600)};
  std::wstring format;
  for (size_t i = 1; i < size; ++i)
    format += data[i] >= 0xF0 && data[i] <= 0xF4 ? special[data[i] - 0xF0] : data[i] ? wchar_t(data[i]) : L'0';
  std::vector<std::wstring> texts;
  for (size_t i = 0; i < count; ++i) texts.push_back(std::wstring(i, L'a' + static_cast<wchar_t>(i)));
  std::unique_ptr<DWORD_PTR[]> inserts(count ? new DWORD_PTR[count] : nullptr);
  for (size_t i = 0; i < count; ++i) inserts[i] = reinterpret_cast<DWORD_PTR>(texts[i].c_str());
  std::wstring out;
  DWORD error = 0;
  if (!quorvane::FormatMessageText(format.c_str(), inserts.get(), count, out, &error) && error != ERROR_INVALID_PARAMETER)
    std::abort();
  return 0;
}
