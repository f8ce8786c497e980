// FormatMessageW of the Linux build: the Windows message-format convention
// over a string source.
//
// Inserts: %1 .. %99 (two digits at most: "%100" is insert 10 then "0"),
// each by default a wide string, optionally followed by a printf
// format between exclamation marks ("%2!x!", "%1!02d!", "%8!-5s!").
// A '*' for the width or the precision takes the insert's own slot and the
// following ones: "%1!*.*s!" reads the width from %1, the precision from %2
// and the string from %3. Escapes: %0 ends the message (nothing after it is
// written), %n a CR LF, %r a CR, %t a tab, "% " a space, and %. %! %% the
// character itself; a '%' before any other character is dropped. Text
// substituted for an insert is never scanned again.
//
// Formats: flags - + space # 0, width, precision, size prefixes h hh
// l ll w I I32 I64 j z t, types s S c C (wide with l/w, narrow with h or as
// S/C; narrow text is read in the ANSI code page) d i u o x X p. Floating
// point and %n are refused, as Windows refuses them. A null string prints
// "(null)".
//
// Supported: FORMAT_MESSAGE_FROM_STRING with FORMAT_MESSAGE_ARGUMENT_ARRAY
// (the arguments are a DWORD_PTR array, one slot per insert) or
// FORMAT_MESSAGE_IGNORE_INSERTS, FORMAT_MESSAGE_ALLOCATE_BUFFER (free with
// LocalFree), and a maximum width of 0 (line breaks kept) or
// FORMAT_MESSAGE_MAX_WIDTH_MASK (regular line breaks become spaces; otherwise
// a bare LF of the format is written CR LF, as Windows writes it). A format
// ending in a lone '%' is refused with ERROR_INVALID_PARAMETER.
// FORMAT_MESSAGE_FROM_SYSTEM (and FROM_HMODULE: no module has a table of its
// own) reads text/SystemMessages.h; an id it lacks answers
// ERROR_MR_MID_NOT_FOUND. va_list arguments and other line widths answer
// ERROR_NOT_SUPPORTED.
//
// Like the Windows function it cannot know how many inserts the caller has:
// callers that format untrusted formats bound them first (see the library's
// FormatMessageText).
#pragma once

#include <cstdarg>

#include "../kernel/LocalMemory.h"
#include "../base/WinTypes.h"

typedef uintptr_t ULONG_PTR;

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#ifndef ERROR_MR_MID_NOT_FOUND
#  define ERROR_MR_MID_NOT_FOUND 317L
#endif

// The number of characters stored, without the terminator; 0 on failure with
// the reason in the last-error code (ERROR_INVALID_PARAMETER for a malformed
// insert, ERROR_INSUFFICIENT_BUFFER when nSize is too small).
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
