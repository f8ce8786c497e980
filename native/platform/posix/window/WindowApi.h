// Window services of the Linux build, on the X11 desktop named by DISPLAY.
// A window handle is the X11 window id. Xlib and the XScreenSaver extension
// are opened with dlopen on the first call, each call uses its own short
// connection, and X errors are caught rather than left to Xlib's default
// handler (which would end the process). With no reachable display every
// call answers FALSE (RegisterWindowMessageW needs no display).
#pragma once

#include "../base/WinTypes.h"

typedef DWORD COLORREF;

#define LWA_COLORKEY 0x00000001u
#define LWA_ALPHA 0x00000002u

#define AW_HOR_POSITIVE 0x00000001u
#define AW_HOR_NEGATIVE 0x00000002u
#define AW_VER_POSITIVE 0x00000004u
#define AW_VER_NEGATIVE 0x00000008u
#define AW_CENTER 0x00000010u
#define AW_HIDE 0x00010000u
#define AW_ACTIVATE 0x00020000u
#define AW_SLIDE 0x00040000u
#define AW_BLEND 0x00080000u

typedef struct tagLASTINPUTINFO {
  UINT cbSize;
  DWORD dwTime;
} LASTINPUTINFO, *PLASTINPUTINFO;

// LWA_ALPHA sets _NET_WM_WINDOW_OPACITY from bAlpha (0 transparent, 255
// opaque). A colour key cannot be expressed on X11: LWA_COLORKEY without
// LWA_ALPHA answers FALSE, with it the key is ignored.
BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF crKey, BYTE bAlpha, DWORD dwFlags);
// bInvert TRUE asks for attention (_NET_WM_STATE_DEMANDS_ATTENTION and the
// urgency hint), FALSE withdraws the request. Answers whether the window was
// asking for attention before the call.
BOOL FlashWindow(HWND hWnd, BOOL bInvert);
// Shows (maps) or, with AW_HIDE, hides (unmaps) the window; AW_BLEND fades
// the opacity over dwTime ms (at most 10 s). FALSE when the window is
// already in the asked state, or for a roll or slide without a direction.
BOOL AnimateWindow(HWND hWnd, DWORD dwTime, DWORD dwFlags);
// dwTime = tick count (GetTickCount) of the last keyboard or mouse input,
// from the X server's idle time. cbSize must be sizeof(LASTINPUTINFO).
BOOL GetLastInputInfo(PLASTINPUTINFO plii);
// The root window of the DISPLAY's default screen; NULL when no display
// can be reached (headless).
HWND GetDesktopWindow();
// A number in 0xC000-0xFFFF for the name, the same for every process of the
// user and across restarts (case-insensitive names); 0 for a null or empty
// name, a name over 255 characters, or when the table cannot be reached.
UINT RegisterWindowMessageW(LPCWSTR lpString);
