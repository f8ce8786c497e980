#include "MessageFormat.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

#include "CodePages.h"
#include "../base/ErrnoMapping.h"
#include "SystemMessages.h"

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

void AppendField(std::wstring& out, const wchar_t* body, size_t length, const InsertSpec& spec, long width) {
  const long padding = width - static_cast<long>(length);
  if (spec.leftAlign) {
    out.append(body, length);
    Pad(out, padding, L' ');
  } else {
    Pad(out, padding, spec.zeroPad ? L'0' : L' ');
    out.append(body, length);
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

// An integer insert as printf writes it, in three parts: the prefix (sign
// or blank, "0x"/"0X"), the zeros that make up the precision (and the "0"
// of '#' in octal), then the digits (none for a zero value with precision
// 0). The width is applied by the caller.
struct IntegerText {
  wchar_t prefix[3];
  size_t prefixLength = 0;
  size_t zeros = 0;
  wchar_t digits[24];  // least significant first
  size_t digitCount = 0;

  size_t Length() const { return prefixLength + zeros + digitCount; }
  void AppendDigitsTo(std::wstring& out) const {
    out.append(zeros, L'0');
    for (size_t i = digitCount; i > 0; --i) out += digits[i - 1];
  }
};

// A constant base lets the compiler multiply rather than divide.
template <unsigned Base>
void AppendDigits(uint64_t value, const wchar_t* digitSet, IntegerText& text) {
  for (; value != 0; value /= Base) text.digits[text.digitCount++] = digitSet[value % Base];
}

IntegerText MakeIntegerText(const InsertSpec& spec, DWORD_PTR raw, long precision) {
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
  IntegerText text;
  switch (base) {
    case 8: AppendDigits<8>(magnitude, digitSet, text); break;
    case 16: AppendDigits<16>(magnitude, digitSet, text); break;
    default: AppendDigits<10>(magnitude, digitSet, text); break;
  }
  if (text.digitCount == 0 && precision != 0) text.digits[text.digitCount++] = L'0';

  if (negative) text.prefix[text.prefixLength++] = L'-';
  else if (isSigned && spec.plus) text.prefix[text.prefixLength++] = L'+';
  else if (isSigned && spec.space) text.prefix[text.prefixLength++] = L' ';
  if (spec.alternate && magnitude != 0 && base == 16) {
    text.prefix[text.prefixLength++] = L'0';
    text.prefix[text.prefixLength++] = spec.type;
  }
  if (precision > 0 && static_cast<size_t>(precision) > text.digitCount)
    text.zeros = static_cast<size_t>(precision) - text.digitCount;
  if (spec.alternate && base == 8 && text.zeros == 0 &&
      (text.digitCount == 0 || text.digits[text.digitCount - 1] != L'0'))
    text.zeros = 1;
  return text;
}

// Formats insert `number` (1-based) with `spec`; false for a bad format.
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
      const wchar_t* text = reinterpret_cast<const wchar_t*>(value);
      std::wstring decoded;
      if (value == 0) {
        text = L"(null)";
      } else if (narrow) {
        decoded = NarrowText(reinterpret_cast<const char*>(value), precision);
        text = decoded.c_str();
      }
      size_t length = 0;
      while ((precision < 0 || length < static_cast<size_t>(precision)) && text[length] != L'\0') ++length;
      AppendField(out, text, length, spec, width);
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
      AppendField(out, body.data(), body.size(), spec, width);
      return true;
    }
    case L'p': {
      const size_t count = 2 * sizeof(void*);
      wchar_t digits[count];
      DWORD_PTR v = value;
      for (size_t i = count; i > 0; --i, v >>= 4) digits[i - 1] = L"0123456789ABCDEF"[v & 0xF];
      AppendField(out, digits, count, spec, width);
      return true;
    }
    default: {
      const IntegerText text = MakeIntegerText(spec, value, precision);
      // Written here rather than by printf so that the width can be as large
      // as kMaxField; zero padding goes after the sign and "0x".
      const long padding = width - static_cast<long>(text.Length());
      const bool zeroPad = spec.zeroPad && !spec.leftAlign && precision < 0;
      if (!spec.leftAlign && !zeroPad) Pad(out, padding, L' ');
      out.append(text.prefix, text.prefixLength);
      if (zeroPad) Pad(out, padding, L'0');
      text.AppendDigitsTo(out);
      if (spec.leftAlign) Pad(out, padding, L' ');
      return true;
    }
  }
}

// The whole message into `out`; false with the Windows error code in *error.
bool Expand(const wchar_t* p, DWORD flags, const DWORD_PTR* args, std::wstring& out, DWORD* error) {
  const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  const bool joinLines = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
  const wchar_t* const start = p;
  while (*p != L'\0') {
    if (*p == L'\n' && !joinLines) {
      // Windows writes a bare LF of the format as CR LF.
      if (p == start || p[-1] != L'\r') out += L'\r';
      out += L'\n';
      ++p;
      continue;
    }
    if (*p != L'%' && !joinLines) {
      // Plain text up to the next insert, escape or line feed, in one piece.
      const wchar_t* stop = std::wcspbrk(p, L"%\n");
      const wchar_t* runEnd = stop ? stop : p + std::wcslen(p);
      out.append(p, runEnd);
      p = runEnd;
      continue;
    }
    if (*p != L'%') {
      if (*p == L'\r' || *p == L'\n') {
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
    if (c == L'\0') {
      // A lone '%' at the end, as Windows answers it.
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
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
  const wchar_t* source = static_cast<const wchar_t*>(lpSource);
  if (!(dwFlags & FORMAT_MESSAGE_FROM_STRING)) {
    // No module has a message table here: FROM_HMODULE reads the system's.
    source = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ? quorvane::posix::FindSystemMessage(dwMessageId) : nullptr;
    if (source == nullptr) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
  }
  const DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if ((width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) ||
      (Arguments != nullptr && !(dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) &&
       !(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS))) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  if (source == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD_PTR* args = (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) ? reinterpret_cast<const DWORD_PTR*>(Arguments)
                                                                    : nullptr;
  std::wstring out;
  out.reserve(std::wcslen(source) + 128);
  DWORD error = ERROR_SUCCESS;
  try {
    if (!Expand(source, dwFlags, args, out, &error)) {
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
