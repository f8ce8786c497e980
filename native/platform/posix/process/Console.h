// The console of the Linux build is the process's standard error: the
// stream a Linux user sees where a Windows user sees the console window.
//  - The process is attached to it while descriptor 2 is open, from the
//    start; FreeConsole only detaches (descriptor 2 is never closed: the
//    JVM and the C runtime still write there, and a closed 2 would be
//    reused by the next file opened). AllocConsole attaches again.
//  - GetStdHandle gives one console handle for output and error.
//  - Text is written as UTF-8 whatever code page is set. Text attributes
//    become ANSI colour sequences when standard error is a terminal; the
//    screen-buffer calls answer FALSE when it is not (as Windows does for a
//    redirected handle), which is how callers tell that there is no console
//    to colour.
#pragma once

#include "../base/WinTypes.h"

typedef struct _COORD {
  SHORT X;
  SHORT Y;
} COORD;

typedef struct _SMALL_RECT {
  SHORT Left;
  SHORT Top;
  SHORT Right;
  SHORT Bottom;
} SMALL_RECT;

typedef struct _CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
} CONSOLE_SCREEN_BUFFER_INFO, *PCONSOLE_SCREEN_BUFFER_INFO;

#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))

#define FOREGROUND_BLUE 0x0001
#define FOREGROUND_GREEN 0x0002
#define FOREGROUND_RED 0x0004
#define FOREGROUND_INTENSITY 0x0008
#define BACKGROUND_BLUE 0x0010
#define BACKGROUND_GREEN 0x0020
#define BACKGROUND_RED 0x0040
#define BACKGROUND_INTENSITY 0x0080

// FALSE with ERROR_ACCESS_DENIED when already attached (the process keeps
// its console), or ERROR_INVALID_HANDLE when descriptor 2 is closed.
BOOL AllocConsole();
// FALSE with ERROR_INVALID_PARAMETER when not attached.
BOOL FreeConsole();
// The console handle for STD_OUTPUT_HANDLE and STD_ERROR_HANDLE while
// attached, NULL when detached; INVALID_HANDLE_VALUE with
// ERROR_INVALID_PARAMETER for other values (standard input is not offered).
HANDLE GetStdHandle(DWORD nStdHandle);
BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   DWORD* lpNumberOfCharsWritten, LPVOID lpReserved);
// Any code page that can be converted to, 1200 included; the text written
// stays UTF-8.
BOOL SetConsoleOutputCP(UINT wCodePageID);
UINT GetConsoleOutputCP();
BOOL SetConsoleScreenBufferSize(HANDLE hConsoleOutput, COORD dwSize);
BOOL GetConsoleScreenBufferInfo(HANDLE hConsoleOutput, PCONSOLE_SCREEN_BUFFER_INFO lpConsoleScreenBufferInfo);
BOOL SetConsoleTextAttribute(HANDLE hConsoleOutput, WORD wAttributes);
