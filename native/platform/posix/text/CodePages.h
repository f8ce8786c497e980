// Code-page conversion on Linux with the Windows contracts of
// MultiByteToWideChar / WideCharToMultiByte: sizes in units of the buffer's
// characters, -1 for null-terminated input (the terminator is converted and
// counted), a zero output size asks for the size needed, and failure answers
// 0 with the reason in the last-error code. Conversions run through glibc
// iconv. WCHAR is UTF-32 here, so one WCHAR is one code point.
#pragma once

#include <string>

#include "../base/ErrnoMapping.h"
#include "../base/WinTypes.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#ifndef ERROR_INVALID_FLAGS
#  define ERROR_INVALID_FLAGS 1004L
#endif

// The system ANSI code page: 65001 when the environment's locale uses UTF-8,
// otherwise the Windows code page matching its character set, 1252 when
// there is none. Read once; the process's global locale is not touched.
UINT GetACP();
// The OEM code page: 437 for UTF-8 and Western locales, else the ANSI one.
UINT GetOEMCP();
BOOL IsValidCodePage(UINT CodePage);

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

namespace quorvane {
namespace posix {

// Whole-string conversions for the Linux layer itself (the property-set
// engine). Code page 1200 (UTF-16LE) is accepted here, unlike in the Windows
// functions. `strict` makes any invalid or unrepresentable character a
// failure; otherwise invalid input becomes U+FFFD and unrepresentable output
// '?'. False also for a code page iconv does not know.
bool DecodeFromCodePage(UINT codePage, const char* bytes, size_t count, std::wstring& out, bool strict);
bool EncodeToCodePage(UINT codePage, const wchar_t* text, size_t count, std::string& out, bool strict);
// Maps CP_ACP, CP_OEMCP and CP_THREAD_ACP to the real code page.
UINT ResolveCodePage(UINT codePage);

}  // namespace posix
}  // namespace quorvane
