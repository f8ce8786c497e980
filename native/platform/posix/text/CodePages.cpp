#include "CodePages.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "../../../common/Utf16.h"
#include "../base/WinError.h"

namespace quorvane {
namespace posix {

namespace {

// A converter per code page and direction, kept by each thread: opening one
// costs more than converting most texts. Each use starts from the initial
// shift state.
class Converters final {
 public:
  // Null when iconv has no such conversion.
  static iconv_t Get(UINT codePage, bool encoding, const char* to, const char* from) {
    static thread_local Converters own;
    for (const Entry& e : own.entries_)
      if (e.codePage == codePage && e.encoding == encoding) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    const iconv_t cd = iconv_open(to, from);
    if (cd == kNone) return nullptr;
    if (own.entries_.size() == kKept) {
      iconv_close(own.entries_.front().cd);
      own.entries_.erase(own.entries_.begin());
    }
    own.entries_.push_back({codePage, encoding, cd});
    return cd;
  }
  ~Converters() {
    for (const Entry& e : entries_) iconv_close(e.cd);
  }

 private:
  struct Entry {
    UINT codePage;
    bool encoding;
    iconv_t cd;
  };
  static constexpr size_t kKept = 8;
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  std::vector<Entry> entries_;
};

// Windows code page -> glibc iconv charset. Null when unknown.
const char* IconvName(UINT cp) {
  switch (cp) {
    case CP_UTF8: return "UTF-8";
    case CP_UTF7: return "UTF-7";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 10000: return "MACINTOSH";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 50220: return "ISO-2022-JP";
    case 936: return "GBK";
    case 950: return "BIG5";
    case 874: return "CP874";
    case 932: return "CP932";
    case 949: return "CP949";
    default: break;
  }
  if (cp >= 28591 && cp <= 28606) {
    static const char* const iso[] = {"ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",
                                       "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8",
                                       "ISO-8859-9",  "ISO-8859-10", "ISO-8859-11", nullptr,
                                       "ISO-8859-13", "ISO-8859-14", "ISO-8859-15", "ISO-8859-16"};
    return iso[cp - 28591];
  }
  if ((cp >= 1250 && cp <= 1258) || cp == 437 || cp == 737 || cp == 775 || cp == 850 || cp == 852 ||
      cp == 855 || cp == 857 || cp == 860 || cp == 861 || cp == 862 || cp == 863 || cp == 864 ||
      cp == 865 || cp == 866 || cp == 869) {
    static thread_local char name[16];
    snprintf(name, sizeof name, "CP%u", cp);
    return name;
  }
  return nullptr;
}

// Bytes that code page 1252 leaves undefined; Windows maps them to the C1
// control of the same value in both directions, so text holding them
// survives a round trip.
bool Is1252Hole(unsigned v) { return v == 0x81 || v == 0x8D || v == 0x8F || v == 0x90 || v == 0x9D; }

std::string NormalizedCharset(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p)
    if (*p != '-' && *p != '_') out.push_back(*p >= 'a' && *p <= 'z' ? static_cast<char>(*p - 'a' + 'A') : *p);
  return out;
}

UINT CodePageOfCharset(const std::string& cs) {
  if (cs == "UTF8") return CP_UTF8;
  struct Entry {
    const char* charset;
    UINT cp;
  };
  static const Entry table[] = {
      {"CP1250", 1250},     {"ISO88592", 1250},   {"CP1251", 1251},     {"ISO88595", 1251},
      {"KOI8R", 1251},      {"KOI8U", 1251},      {"CP1253", 1253},     {"ISO88597", 1253},
      {"CP1254", 1254},     {"ISO88599", 1254},   {"CP1255", 1255},     {"ISO88598", 1255},
      {"CP1256", 1256},     {"ISO88596", 1256},   {"CP1257", 1257},     {"ISO885913", 1257},
      {"CP1258", 1258},     {"TIS620", 874},      {"EUCJP", 932},       {"SHIFTJIS", 932},
      {"SJIS", 932},        {"GB2312", 936},      {"GBK", 936},         {"GB18030", 936},
      {"EUCKR", 949},       {"BIG5", 950},        {"BIG5HKSCS", 950},   {"CP1252", 1252},
  };
  for (const Entry& e : table)
    if (cs == e.charset) return e.cp;
  return 1252;
}

UINT ComputeAcp() {
  // The environment's locale, asked without changing the process's own.
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (loc != static_cast<locale_t>(nullptr)) {
    const std::string cs = NormalizedCharset(nl_langinfo_l(CODESET, loc));
    freelocale(loc);
    return CodePageOfCharset(cs);
  }
  // Locale not installed: read the charset from its name ("de_DE.UTF-8@euro").
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (!value || !*value) continue;
    const char* dot = std::strchr(value, '.');
    if (!dot) return 1252;
    std::string cs(dot + 1);
    cs = cs.substr(0, cs.find('@'));
    return CodePageOfCharset(NormalizedCharset(cs.c_str()));
  }
  return 1252;
}

}  // namespace

UINT ResolveCodePage(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP: return GetACP();
    case CP_OEMCP: return GetOEMCP();
    case CP_MACCP: return 10000;
    default: return codePage;
  }
}

// Code pages in which every ASCII byte stands for itself: all-ASCII text (the
// common case, e.g. every log line) converts without opening a converter.
bool IsAsciiCompatible(UINT cp) {
  return cp == CP_UTF8 || (cp >= 1250 && cp <= 1258) || (cp >= 28591 && cp <= 28606) || cp == 20127;
}

// Bytes that stand each for the character of the same value in `codePage`.
bool IsAsciiIn(UINT codePage, const char* bytes, size_t count) {
  return IsAsciiCompatible(codePage) &&
         std::all_of(bytes, bytes + count, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool DecodeFromCodePage(UINT codePage, const char* bytes, size_t count, std::wstring& out, bool strict) {
  out.clear();
  if (IsAsciiIn(codePage, bytes, count)) {
    out.assign(bytes, bytes + count);
    return true;
  }
  if (codePage == 1200) {  // lossless, lone surrogates included
    std::u16string units(count / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    out = WideFromUtf16(units.data(), units.size());
    if (count % 2 != 0) {
      if (strict) return false;
      out.push_back(L'\xFFFD');
    }
    return true;
  }
  const char* name = IconvName(codePage);
  if (!name) return false;
  const iconv_t cd = Converters::Get(codePage, false, "WCHAR_T", name);
  if (!cd) return false;
  out.reserve(count);
  char* in = const_cast<char*>(bytes);
  size_t inLeft = count;
  wchar_t chunk[256];
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(chunk);
    size_t outLeft = sizeof chunk;
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(chunk, (sizeof chunk - outLeft) / sizeof(wchar_t));
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut short at the end): one bad byte.
    const unsigned bad = static_cast<uint8_t>(*in);
    if (codePage == 1252 && Is1252Hole(bad)) {
      out.push_back(static_cast<wchar_t>(bad));
    } else {
      if (strict) return false;
      out.push_back(L'\xFFFD');
    }
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

bool EncodeToCodePage(UINT codePage, const wchar_t* text, size_t count, std::string& out, bool strict) {
  out.clear();
  if (IsAsciiCompatible(codePage) && std::all_of(text, text + count, [](wchar_t c) { return c >= 0 && c < 0x80; })) {
    out.assign(text, text + count);
    return true;
  }
  if (codePage == 1200) {
    const std::u16string units = Utf16FromWide(text, count);
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    }
    return true;
  }
  const char* name = IconvName(codePage);
  if (!name) return false;
  const iconv_t cd = Converters::Get(codePage, true, name, "WCHAR_T");
  if (!cd) return false;
  out.reserve(count);
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
  size_t inLeft = count * sizeof(wchar_t);
  char chunk[1024];
  while (inLeft > 0) {
    char* outPtr = chunk;
    size_t outLeft = sizeof chunk;
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(chunk, sizeof chunk - outLeft);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    wchar_t bad;
    std::memcpy(&bad, in, sizeof bad);
    if (codePage == 1252 && Is1252Hole(static_cast<unsigned>(bad))) {
      out.push_back(static_cast<char>(bad));
    } else {
      if (strict) return false;
      out.append(codePage == CP_UTF8 ? "\xEF\xBF\xBD" : "?");
    }
    in += sizeof(wchar_t);
    inLeft -= sizeof(wchar_t);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Stateful encodings (ISO-2022, UTF-7) close their shift state.
  char* outPtr = chunk;
  size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(chunk, sizeof chunk - outLeft);
  return true;
}

}  // namespace posix
}  // namespace quorvane

using quorvane::posix::ResolveCodePage;

UINT GetACP() {
  static const UINT acp = quorvane::posix::ComputeAcp();
  return acp;
}

UINT GetOEMCP() {
  const UINT acp = GetACP();
  return (acp == 1252 || acp == CP_UTF8) ? 437 : acp;
}

BOOL IsValidCodePage(UINT CodePage) {
  if (CodePage == 1200 || CodePage == 1201 || CodePage == CP_ACP || CodePage == CP_OEMCP ||
      CodePage == CP_THREAD_ACP)
    return FALSE;  // not a code page of its own for these functions
  const char* name = quorvane::posix::IconvName(CodePage);
  if (!name) return FALSE;
  iconv_t cd = iconv_open("WCHAR_T", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return FALSE;
  iconv_close(cd);
  return TRUE;
}

namespace {

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// The conversions' output protocol: the size asked for (capacity 0), a short
// buffer's failure, or `write` fills the first `needed` units of the
// caller's buffer; the count, as an int.
template <typename Write>
int IntoCallerBuffer(size_t needed, int capacity, Write write) {
  if (needed > static_cast<size_t>(std::numeric_limits<int>::max())) return Fail(ERROR_INVALID_PARAMETER);
  if (capacity == 0) return static_cast<int>(needed);
  if (needed > static_cast<size_t>(capacity)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  write();
  return static_cast<int>(needed);
}

// UTF-8 without iconv for text of Unicode scalar values only (no
// surrogate, nothing past U+10FFFF): the number of bytes, written to `out`
// when it is not null. False for any other text, which then takes the
// general path with its replacement characters.
bool EncodeUtf8(const wchar_t* text, size_t count, char* out, size_t* length) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]);
    if (c < 0x80) {
      if (out) out[n] = static_cast<char>(c);
      n += 1;
    } else if (c < 0x800) {
      if (out) {
        out[n] = static_cast<char>(0xC0 | (c >> 6));
        out[n + 1] = static_cast<char>(0x80 | (c & 0x3F));
      }
      n += 2;
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) return false;
      if (out) {
        out[n] = static_cast<char>(0xE0 | (c >> 12));
        out[n + 1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n + 2] = static_cast<char>(0x80 | (c & 0x3F));
      }
      n += 3;
    } else if (c <= 0x10FFFF) {
      if (out) {
        out[n] = static_cast<char>(0xF0 | (c >> 18));
        out[n + 1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out[n + 2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n + 3] = static_cast<char>(0x80 | (c & 0x3F));
      }
      n += 4;
    } else {
      return false;
    }
  }
  *length = n;
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr) ||
      (lpWideCharStr && static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)))
    return Fail(ERROR_INVALID_PARAMETER);
  if ((CodePage == CP_UTF8 || CodePage == CP_UTF7) && (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)))
    return Fail(ERROR_INVALID_FLAGS);
  if (dwFlags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS))
    return Fail(ERROR_INVALID_FLAGS);
  const UINT cp = ResolveCodePage(CodePage);
  if (cp == 1200 || cp == 1201) return Fail(ERROR_INVALID_PARAMETER);
  const size_t count = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  if (quorvane::posix::IsAsciiIn(cp, lpMultiByteStr, count)) {
    // Most text is ASCII: widened straight into the caller's buffer.
    return IntoCallerBuffer(count, cchWideChar,
                            [&] { std::copy(lpMultiByteStr, lpMultiByteStr + count, lpWideCharStr); });
  }
  std::wstring wide;
  if (!quorvane::posix::DecodeFromCodePage(cp, lpMultiByteStr, count, wide, (dwFlags & MB_ERR_INVALID_CHARS) != 0))
    return Fail(quorvane::posix::IconvName(cp) ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_PARAMETER);
  return IntoCallerBuffer(wide.size(), cchWideChar, [&] { std::copy(wide.begin(), wide.end(), lpWideCharStr); });
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) ||
      (lpMultiByteStr && static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)))
    return Fail(ERROR_INVALID_PARAMETER);
  const bool utf = CodePage == CP_UTF8 || CodePage == CP_UTF7;
  if (utf && (lpDefaultChar || lpUsedDefaultChar)) return Fail(ERROR_INVALID_PARAMETER);
  if (utf && (dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS))) return Fail(ERROR_INVALID_FLAGS);
  if (dwFlags & ~static_cast<DWORD>(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                    WC_ERR_INVALID_CHARS | WC_NO_BEST_FIT_CHARS))
    return Fail(ERROR_INVALID_FLAGS);
  const UINT cp = ResolveCodePage(CodePage);
  if (cp == 1200 || cp == 1201) return Fail(ERROR_INVALID_PARAMETER);
  if (!quorvane::posix::IconvName(cp)) return Fail(ERROR_INVALID_PARAMETER);
  const size_t count = cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);

  // UTF-8 of valid text (every log line) goes straight into the caller's
  // buffer: no converter, no copy.
  size_t utf8Length = 0;
  if (cp == CP_UTF8 && EncodeUtf8(lpWideCharStr, count, nullptr, &utf8Length)) {
    return IntoCallerBuffer(utf8Length, cbMultiByte,
                            [&] { EncodeUtf8(lpWideCharStr, count, lpMultiByteStr, &utf8Length); });
  }

  // Character by character only where a replacement must be reported or
  // chosen by the caller; the common case converts in one call.
  std::string narrow;
  bool usedDefault = false;
  const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) != 0;
  if (!quorvane::posix::EncodeToCodePage(cp, lpWideCharStr, count, narrow, true)) {
    if (strict && cp == CP_UTF8) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    narrow.clear();
    std::string piece;
    const char* fallback = lpDefaultChar ? lpDefaultChar : "?";
    for (size_t i = 0; i < count; ++i) {
      if (quorvane::posix::EncodeToCodePage(cp, lpWideCharStr + i, 1, piece, true)) {
        narrow += piece;
      } else if (cp == CP_UTF8) {
        narrow += "\xEF\xBF\xBD";
      } else {
        narrow += fallback[0] ? std::string(1, fallback[0]) : std::string(1, '\0');
        usedDefault = true;
      }
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return IntoCallerBuffer(narrow.size(), cbMultiByte, [&] { std::copy(narrow.begin(), narrow.end(), lpMultiByteStr); });
}
