#include "MessageFormatter.h"

#include <cwchar>

namespace quorvane {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Slots an insert with this format reads: its own, one per '*', and
// on 32-bit Windows a second one for a 64-bit integer.
size_t SlotsOf(const wchar_t* spec, const wchar_t* end) {
  size_t slots = 1;
  for (const wchar_t* p = spec; p < end; ++p) {
    if (*p == L'*') ++slots;
    if (sizeof(DWORD_PTR) < 8 && end - p >= 3 && p[0] == L'I' && p[1] == L'6' && p[2] == L'4') ++slots;
  }
  return slots;
}

// Whether some insert of `format` would read past `count`; if so, `bound`
// receives the format with each of those turned into literal text ("%%3!d!"
// prints "%3!d!"). Parses as FormatMessage does: "%" then one or two digits,
// then an optional "!spec!". A format that needs no change is not copied.
bool BoundInserts(LPCWSTR format, size_t count, std::wstring& bound) {
  bool changed = false;
  const wchar_t* copied = format;  // what `bound` holds so far ends here
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      ++p;
      continue;
    }
    const wchar_t c = p[1];
    if (c == L'\0') break;
    if (c < L'1' || c > L'9') {
      p += 2;  // an escape: %% %n %0 %. %! and the like
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
      if (!changed) bound.reserve(std::wcslen(format) + 8);
      changed = true;
      bound.append(copied, p);
      bound += L'%';
      copied = p;
      p = digitsEnd;
      continue;
    }
    p = q;
  }
  if (!changed) return false;
  bound.append(copied);
  return true;
}

}  // namespace

bool FormatMessageText(LPCWSTR format, const DWORD_PTR* inserts, size_t count, std::wstring& out, DWORD* error) {
  out.clear();
  if (format == nullptr) {
    if (error) *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::wstring bound;
  const wchar_t* source = BoundInserts(format, inserts == nullptr ? 0 : count, bound) ? bound.c_str() : format;
  va_list* arguments = reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts));
  // Most messages fit a buffer on the stack; a longer one is formatted again
  // into a buffer FormatMessageW allocates.
  wchar_t local[512];
  SetLastError(ERROR_SUCCESS);
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, source, 0, 0, local,
                                sizeof local / sizeof local[0], arguments);
  DWORD failure = length == 0 ? GetLastError() : ERROR_SUCCESS;
  if (failure == ERROR_SUCCESS) {
    out.assign(local, length);
  } else if (failure == ERROR_INSUFFICIENT_BUFFER) {
    LPWSTR buffer = nullptr;
    SetLastError(ERROR_SUCCESS);
    length = FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, 0, 0,
        reinterpret_cast<LPWSTR>(&buffer), 0, arguments);
    failure = length == 0 ? GetLastError() : ERROR_SUCCESS;
    if (buffer != nullptr) {
      out.assign(buffer, length);
      LocalFree(buffer);
    }
  }
  // An empty message is not a failure: FormatMessageW answers 0 with no error.
  if (length == 0 && failure != ERROR_SUCCESS) {
    if (error) *error = failure;
    return false;
  }
  return true;
}

}  // namespace quorvane
