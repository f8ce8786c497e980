#include "MessageFormatter.h"

#include <cwchar>

namespace quorvane {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Slots an insert with this specification reads: its own, one per '*', and
// on 32-bit Windows a second one for a 64-bit integer.
size_t SlotsOf(const wchar_t* spec, const wchar_t* end) {
  size_t slots = 1;
  for (const wchar_t* p = spec; p < end; ++p) {
    if (*p == L'*') ++slots;
    if (sizeof(DWORD_PTR) < 8 && end - p >= 3 && p[0] == L'I' && p[1] == L'6' && p[2] == L'4') ++slots;
  }
  return slots;
}

// The format with every insert that would read past `count` turned into
// literal text ("%%3!d!" prints "%3!d!"). Parses as FormatMessage does:
// "%" then one or two digits, then an optional "!spec!".
std::wstring BoundInserts(LPCWSTR format, size_t count) {
  std::wstring bound;
  bound.reserve(std::wcslen(format) + 8);
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      bound += *p++;
      continue;
    }
    const wchar_t c = p[1];
    if (c == L'\0') {
      bound += *p++;
      break;
    }
    if (c < L'1' || c > L'9') {
      bound.append(p, 2);  // an escape: %% %n %0 %. %! and the like
      p += 2;
      continue;
    }
    const wchar_t* q = p + 2;
    size_t number = static_cast<size_t>(c - L'0');
    if (IsDigit(*q)) number = number * 10 + static_cast<size_t>(*q++ - L'0');
    const wchar_t* const digitsEnd = q;
    size_t slots = 1;
    bool unterminated = false;
    if (*q == L'!') {
      const wchar_t* close = std::wcschr(q + 1, L'!');
      if (close == nullptr) {
        unterminated = true;
      } else {
        slots = SlotsOf(q + 1, close);
        q = close + 1;
      }
    }
    if (unterminated || number - 1 + slots > count) {
      // "%%N": the insert becomes text, and its "!spec!" plain text that is
      // scanned on like any other (as FormatMessage will scan it).
      bound += L'%';
      bound.append(p, digitsEnd);
      p = digitsEnd;
      continue;
    }
    bound.append(p, q);
    p = q;
  }
  return bound;
}

}  // namespace

bool FormatMessageText(LPCWSTR format, const DWORD_PTR* inserts, size_t count, std::wstring& out, DWORD* error) {
  out.clear();
  if (format == nullptr) {
    if (error) *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const std::wstring bound = BoundInserts(format, inserts == nullptr ? 0 : count);
  // (BoundInserts copies the format; a few characters more are cheap next
  // to the formatting itself.)
  LPWSTR buffer = nullptr;
  SetLastError(ERROR_SUCCESS);
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, bound.c_str(), 0,
      0, reinterpret_cast<LPWSTR>(&buffer), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
  const DWORD failure = length == 0 ? GetLastError() : ERROR_SUCCESS;
  if (buffer != nullptr) {
    out.assign(buffer, length);
    LocalFree(buffer);
  }
  // An empty message is not a failure: FormatMessageW answers 0 with no error.
  if (length == 0 && failure != ERROR_SUCCESS) {
    if (error) *error = failure;
    return false;
  }
  return true;
}

}  // namespace quorvane
