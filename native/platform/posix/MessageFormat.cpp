#include "MessageFormat.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

#include "CodePages.h"
#include "ErrnoMapping.h"

namespace {

// Widths and precisions beyond this are refused rather than allocated.
constexpr long kMaxField = 0xFFFF;

struct InsertSpec {
  bool leftAlign = false, plus = false, space = false, alternate = false, zeroPad = false;
  bool widthFromArgument = false, precisionFromArgument = false;
  long width = 0;
  long precision = -1;  // -1: none
  int integerBits = 32;
  enum class Text { Default, Narrow, Wide } text = Text::Default;
  wchar_t type = L's';
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool ParseNumber(const wchar_t*& p, const wchar_t* end, long* value) {
  long v = 0;
  while (p < end && IsDigit(*p)) {
    v = v * 10 + (*p - L'0');
    if (v > kMaxField) return false;
    ++p;
  }
  *value = v;
  return true;
}

// The text between the exclamation marks, e.g. "-5s" or "*.*hs".
bool ParseSpec(const wchar_t* p, const wchar_t* end, InsertSpec* spec) {
  for (; p < end; ++p) {
    if (*p == L'-') spec->leftAlign = true;
    else if (*p == L'+') spec->plus = true;
    else if (*p == L' ') spec->space = true;
    else if (*p == L'#') spec->alternate = true;
    else if (*p == L'0') spec->zeroPad = true;
    else break;
  }
  if (p < end && *p == L'*') {
    spec->widthFromArgument = true;
    ++p;
  } else if (!ParseNumber(p, end, &spec->width)) {
    return false;
  }
  if (p < end && *p == L'.') {
    ++p;
    if (p < end && *p == L'*') {
      spec->precisionFromArgument = true;
      ++p;
    } else if (!ParseNumber(p, end, &spec->precision)) {
      return false;
    }
  }
  // Size prefix.
  auto at = [&](size_t i) { return p + i < end ? p[i] : L'\0'; };
  if (at(0) == L'I' && at(1) == L'6' && at(2) == L'4') spec->integerBits = 64, p += 3;
  else if (at(0) == L'I' && at(1) == L'3' && at(2) == L'2') spec->integerBits = 32, p += 3;
  else if (at(0) == L'l' && at(1) == L'l') spec->integerBits = 64, p += 2;
  else if (at(0) == L'h' && at(1) == L'h') spec->integerBits = 8, spec->text = InsertSpec::Text::Narrow, p += 2;
  else if (at(0) == L'I') spec->integerBits = sizeof(void*) * 8, p += 1;
  else if (at(0) == L'h') spec->integerBits = 16, spec->text = InsertSpec::Text::Narrow, p += 1;
  else if (at(0) == L'l' || at(0) == L'w') spec->text = InsertSpec::Text::Wide, p += 1;
  else if (at(0) == L'j' || at(0) == L'z' || at(0) == L't') spec->integerBits = 64, p += 1;
  if (end - p != 1) return false;
  switch (*p) {
    case L's': case L'S': case L'c': case L'C':
    case L'd': case L'i': case L'u': case L'o': case L'x': case L'X': case L'p':
      spec->type = *p;
      return true;
    default:
      return false;  // floating point, %n and anything else
  }
}

void Pad(std::wstring& out, long count, wchar_t fill) {
  if (count > 0) out.append(static_cast<size_t>(count), fill);
}

void AppendField(std::wstring& out, const std::wstring& body, const InsertSpec& spec, long width) {
  const long padding = width - static_cast<long>(body.size());
  if (spec.leftAlign) {
    out += body;
    Pad(out, padding, L' ');
  } else {
    Pad(out, padding, spec.zeroPad ? L'0' : L' ');
    out += body;
  }
}

std::wstring NarrowText(const char* text, long precision) {
  size_t length = 0;
  while ((precision < 0 || length < static_cast<size_t>(precision)) && text[length] != '\0') ++length;
  std::wstring wide;
  using namespace quorvane::posix;
  if (!DecodeFromCodePage(ResolveCodePage(CP_ACP), text, length, wide, false)) {
    wide.clear();
    for (size_t i = 0; i < length; ++i) wide += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
  }
  return wide;
}

// The digits of an integer insert as printf writes them: sign or blank,
// "0x"/"0X"/"0" for '#', at least `precision` digits (none for a zero value
// with precision 0). The width is applied by the caller.
std::wstring IntegerText(const InsertSpec& spec, DWORD_PTR raw, long precision) {
  const uint64_t bits = static_cast<uint64_t>(raw);
  const bool isSigned = spec.type == L'd' || spec.type == L'i';
  uint64_t magnitude;
  bool negative = false;
  if (isSigned) {
    int64_t value;
    switch (spec.integerBits) {
      case 8: value = static_cast<int8_t>(bits); break;
      case 16: value = static_cast<int16_t>(bits); break;
      case 32: value = static_cast<int32_t>(bits); break;
      default: value = static_cast<int64_t>(bits); break;
    }
    negative = value < 0;
    magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  } else {
    switch (spec.integerBits) {
      case 8: magnitude = static_cast<uint8_t>(bits); break;
      case 16: magnitude = static_cast<uint16_t>(bits); break;
      case 32: magnitude = static_cast<uint32_t>(bits); break;
      default: magnitude = bits; break;
    }
  }
  const unsigned base = spec.type == L'o' ? 8 : (spec.type == L'x' || spec.type == L'X') ? 16 : 10;
  const wchar_t* digitSet = spec.type == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t digits[24];
  size_t count = 0;
  for (uint64_t v = magnitude; v != 0; v /= base) digits[count++] = digitSet[v % base];
  if (count == 0 && precision != 0) digits[count++] = L'0';

  std::wstring text;
  if (negative) text += L'-';
  else if (isSigned && spec.plus) text += L'+';
  else if (isSigned && spec.space) text += L' ';
  if (spec.alternate && magnitude != 0 && base == 16) text += spec.type == L'X' ? L"0X" : L"0x";
  size_t zeros = precision > 0 && static_cast<size_t>(precision) > count ? static_cast<size_t>(precision) - count : 0;
  if (spec.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != L'0')) zeros = 1;
  text.append(zeros, L'0');
  while (count > 0) text += digits[--count];
  return text;
}

// Formats insert `number` (1-based) with `spec`; false for a bad specification.
bool FormatInsert(std::wstring& out, InsertSpec spec, const DWORD_PTR* args, unsigned number) {
  unsigned slot = number - 1;
  long width = spec.width;
  long precision = spec.precision;
  if (spec.widthFromArgument) {
    width = static_cast<int32_t>(args[slot++]);
    if (width < 0) spec.leftAlign = true, width = -width;
    if (width > kMaxField) return false;
  }
  if (spec.precisionFromArgument) {
    precision = static_cast<int32_t>(args[slot++]);
    if (precision < 0) precision = -1;
    if (precision > kMaxField) return false;
  }
  const DWORD_PTR value = args[slot];
  const bool narrow = spec.text == InsertSpec::Text::Narrow ||
                      (spec.text == InsertSpec::Text::Default && (spec.type == L'S' || spec.type == L'C'));
  switch (spec.type) {
    case L's':
    case L'S': {
      std::wstring body;
      if (value == 0) {
        body = L"(null)";
        if (precision >= 0 && static_cast<size_t>(precision) < body.size()) body.resize(precision);
      } else if (narrow) {
        body = NarrowText(reinterpret_cast<const char*>(value), precision);
      } else {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(value);
        size_t length = 0;
        while ((precision < 0 || length < static_cast<size_t>(precision)) && text[length] != L'\0') ++length;
        body.assign(text, length);
      }
      AppendField(out, body, spec, width);
      return true;
    }
    case L'c':
    case L'C': {
      std::wstring body;
      if (narrow) {
        const char c = static_cast<char>(value);
        if (c != '\0') body = NarrowText(&c, 1);
      } else {
        const wchar_t c = static_cast<wchar_t>(static_cast<uint32_t>(value));
        // A NUL would end the message for every reader of it: it is left out.
        if (c != L'\0') body.assign(1, c);
      }
      AppendField(out, body, spec, width);
      return true;
    }
    case L'p': {
      std::wstring digits(2 * sizeof(void*), L'0');
      DWORD_PTR v = value;
      for (size_t i = digits.size(); i > 0 && v != 0; --i, v >>= 4) digits[i - 1] = L"0123456789ABCDEF"[v & 0xF];
      AppendField(out, digits, spec, width);
      return true;
    }
    default: {
      std::wstring body = IntegerText(spec, value, precision);
      // printf did the sign and prefix; the width (with zero padding after the
      // sign) is applied here so that it can be as large as kMaxField.
      if (spec.zeroPad && !spec.leftAlign && precision < 0 && static_cast<long>(body.size()) < width) {
        size_t signLength = 0;
        if (!body.empty() && (body[0] == L'-' || body[0] == L'+' || body[0] == L' ')) signLength = 1;
        if (body.size() >= signLength + 2 && body[signLength] == L'0' &&
            (body[signLength + 1] == L'x' || body[signLength + 1] == L'X'))
          signLength += 2;
        body.insert(signLength, static_cast<size_t>(width) - body.size(), L'0');
        out += body;
      } else {
        spec.zeroPad = false;
        AppendField(out, body, spec, width);
      }
      return true;
    }
  }
}

// The whole message into `out`; false with the Windows error code in *error.
bool Expand(const wchar_t* p, DWORD flags, const DWORD_PTR* args, std::wstring& out, DWORD* error) {
  const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  const bool joinLines = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
  while (*p != L'\0') {
    if (*p != L'%') {
      if (joinLines && (*p == L'\r' || *p == L'\n')) {
        // A regular line break (CR LF, LF or CR) becomes one space.
        if (p[0] == L'\r' && p[1] == L'\n') ++p;
        out += L' ';
      } else {
        out += *p;
      }
      ++p;
      continue;
    }
    const wchar_t* const insertStart = p;
    ++p;
    const wchar_t c = *p;
    if (c == L'\0') break;
    if (c >= L'1' && c <= L'9') {
      unsigned number = static_cast<unsigned>(c - L'0');
      ++p;
      if (IsDigit(*p)) number = number * 10 + static_cast<unsigned>(*p++ - L'0');
      const wchar_t* specStart = nullptr;
      const wchar_t* specEnd = nullptr;
      if (*p == L'!') {
        specStart = p + 1;
        specEnd = std::wcschr(specStart, L'!');
        if (specEnd == nullptr) {
          *error = ERROR_INVALID_PARAMETER;
          return false;
        }
        p = specEnd + 1;
      }
      if (ignoreInserts) {
        out.append(insertStart, p);
        continue;
      }
      if (args == nullptr) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
      }
      InsertSpec spec;
      if (specStart != nullptr && !ParseSpec(specStart, specEnd, &spec)) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
      }
      if (!FormatInsert(out, spec, args, number)) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
      }
      continue;
    }
    ++p;
    switch (c) {
      case L'0': return true;  // end of message, nothing more is written
      case L'n': out += L"\r\n"; break;
      case L'r': out += L'\r'; break;
      case L't': out += L'\t'; break;
      default: out += c; break;  // "% ", "%.", "%!", "%%" and any other character
    }
  }
  return true;
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
  if (!(dwFlags & FORMAT_MESSAGE_FROM_STRING)) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if ((width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) ||
      (Arguments != nullptr && !(dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) &&
       !(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS))) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  if (lpSource == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD_PTR* args = (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) ? reinterpret_cast<const DWORD_PTR*>(Arguments)
                                                                    : nullptr;
  std::wstring out;
  out.reserve(std::wcslen(static_cast<const wchar_t*>(lpSource)) + 128);
  DWORD error = ERROR_SUCCESS;
  try {
    if (!Expand(static_cast<const wchar_t*>(lpSource), dwFlags, args, out, &error)) {
      SetLastError(error);
      return 0;
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  } catch (const std::length_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (out.size() >= 0x7FFFFFFFu / sizeof(WCHAR)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(out.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    const SIZE_T chars = nSize > length + 1 ? nSize : length + 1;
    auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
    if (block == nullptr) return 0;
    std::wmemcpy(block, out.c_str(), length + 1);
    *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
  } else {
    if (nSize < length + 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::wmemcpy(lpBuffer, out.c_str(), length + 1);
  }
  SetLastError(ERROR_SUCCESS);
  return length;
}
