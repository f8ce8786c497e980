// Shell services of the Linux build: the notification-area icon
// (Shell_NotifyIconW: a StatusNotifierItem with desktop notifications when a
// session bus exists), file information (SHGetFileInfoW: names, types from the
// shared MIME database, attributes, icons from the icon theme), shell file
// operations (SHFileOperationW, deletions to the freedesktop trash) and the
// special folders (SHGetFolderPathW, SHGetFolderLocation: the XDG folders).
// Records have the members and constants of their Windows types; WCHAR is
// UTF-32 here, so their sizes differ from the 32-bit Windows layouts.
#pragma once

#include "../base/WinTypes.h"

typedef HANDLE HICON;

// ---- Notification-area icon ----------------------------------------------

typedef struct _NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
} NOTIFYICONDATAW, *PNOTIFYICONDATAW;

// The size member the 32-bit Windows shell expects of this layout (no GUID).
#define NOTIFYICONDATAW_V2_SIZE 936

// Messages, sorted by value.
#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIM_SETFOCUS 0x00000003u
#define NIM_SETVERSION 0x00000004u

// uFlags, sorted by value.
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u
#define NIF_STATE 0x00000008u
#define NIF_INFO 0x00000010u
#define NIF_GUID 0x00000020u
#define NIF_REALTIME 0x00000040u
#define NIF_SHOWTIP 0x00000080u

// dwState / dwStateMask.
#define NIS_HIDDEN 0x00000001u
#define NIS_SHAREDICON 0x00000002u

// dwInfoFlags, sorted by value.
#define NIIF_NONE 0x00000000u
#define NIIF_INFO 0x00000001u
#define NIIF_WARNING 0x00000002u
#define NIIF_ERROR 0x00000003u
#define NIIF_USER 0x00000004u
#define NIIF_ICON_MASK 0x0000000Fu
#define NIIF_NOSOUND 0x00000010u
#define NIIF_LARGE_ICON 0x00000020u
#define NIIF_RESPECT_QUIET_TIME 0x00000080u

// uVersion.
#define NOTIFYICON_VERSION 3
#define NOTIFYICON_VERSION_4 4

// Icons are kept per (hWnd, uID) for the process. A duplicate NIM_ADD, and
// NIM_MODIFY / NIM_DELETE / NIM_SETFOCUS / NIM_SETVERSION of an icon never
// added, answer FALSE, as Windows does. With no session bus the state is
// kept and the answers are the same; nothing is shown.
BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData);

// ---- File information ------------------------------------------------------

typedef struct _SHFILEINFOW {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
} SHFILEINFOW;

// SHGFI flags, sorted by value.
#define SHGFI_LARGEICON 0x000000000u
#define SHGFI_SMALLICON 0x000000001u
#define SHGFI_OPENICON 0x000000002u
#define SHGFI_SHELLICONSIZE 0x000000004u
#define SHGFI_PIDL 0x000000008u
#define SHGFI_USEFILEATTRIBUTES 0x000000010u
#define SHGFI_ADDOVERLAYS 0x000000020u
#define SHGFI_OVERLAYINDEX 0x000000040u
#define SHGFI_ICON 0x000000100u
#define SHGFI_DISPLAYNAME 0x000000200u
#define SHGFI_TYPENAME 0x000000400u
#define SHGFI_ATTRIBUTES 0x000000800u
#define SHGFI_ICONLOCATION 0x000001000u
#define SHGFI_EXETYPE 0x000002000u
#define SHGFI_SYSICONINDEX 0x000004000u
#define SHGFI_LINKOVERLAY 0x000008000u
#define SHGFI_SELECTED 0x000010000u
#define SHGFI_ATTR_SPECIFIED 0x000020000u

// Shell item attributes (dwAttributes with SHGFI_ATTRIBUTES), sorted by value.
#define SFGAO_CANCOPY 0x00000001u
#define SFGAO_CANMOVE 0x00000002u
#define SFGAO_CANLINK 0x00000004u
#define SFGAO_STORAGE 0x00000008u
#define SFGAO_CANRENAME 0x00000010u
#define SFGAO_CANDELETE 0x00000020u
#define SFGAO_HASPROPSHEET 0x00000040u
#define SFGAO_DROPTARGET 0x00000100u
#define SFGAO_LINK 0x00010000u
#define SFGAO_SHARE 0x00020000u
#define SFGAO_READONLY 0x00040000u
#define SFGAO_HIDDEN 0x00080000u
#define SFGAO_STREAM 0x00400000u
#define SFGAO_STORAGEANCESTOR 0x00800000u
#define SFGAO_FILESYSANCESTOR 0x10000000u
#define SFGAO_FOLDER 0x20000000u
#define SFGAO_FILESYSTEM 0x40000000u
#define SFGAO_HASSUBFOLDER 0x80000000u

// An item identifier list. On Linux it names a file-system object by its
// absolute path (see ItemIdList.h); callers treat it as opaque and free it
// with ILFree or CoTaskMemFree.
typedef struct _SHITEMID {
  USHORT cb;
  BYTE abID[1];
} SHITEMID;
typedef struct _ITEMIDLIST {
  SHITEMID mkid;
} ITEMIDLIST, *LPITEMIDLIST, *PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

// File attributes SHGFI_USEFILEATTRIBUTES reads from dwFileAttributes.
#ifndef FILE_ATTRIBUTE_READONLY
#  define FILE_ATTRIBUTE_READONLY 0x00000001u
#endif
#ifndef FILE_ATTRIBUTE_HIDDEN
#  define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#endif
#ifndef FILE_ATTRIBUTE_DIRECTORY
#  define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#endif

// pszPath is a path, or with SHGFI_PIDL an item identifier list. Answers
// nonzero on success (with SHGFI_EXETYPE the executable type), 0 on failure.
// cbFileInfo is the caller's record size; nothing is written past it.
DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags);
// Releases an icon of SHGetFileInfoW (CloseHandle does too). FALSE with
// ERROR_INVALID_CURSOR_HANDLE for anything that is not an open icon.
BOOL DestroyIcon(HICON hIcon);

// ---- Shell file operations ---------------------------------------------------

typedef WORD FILEOP_FLAGS;

#pragma pack(push, 1)
typedef struct _SHFILEOPSTRUCTW {
  HWND hwnd;
  UINT wFunc;
  LPCWSTR pFrom;
  LPCWSTR pTo;
  FILEOP_FLAGS fFlags;
  BOOL fAnyOperationsAborted;
  LPVOID hNameMappings;
  LPCWSTR lpszProgressTitle;
} SHFILEOPSTRUCTW, *LPSHFILEOPSTRUCTW;
#pragma pack(pop)

// wFunc.
#define FO_MOVE 0x0001u
#define FO_COPY 0x0002u
#define FO_DELETE 0x0003u
#define FO_RENAME 0x0004u

// fFlags, sorted by value.
#define FOF_MULTIDESTFILES 0x0001u
#define FOF_CONFIRMMOUSE 0x0002u
#define FOF_SILENT 0x0004u
#define FOF_RENAMEONCOLLISION 0x0008u
#define FOF_NOCONFIRMATION 0x0010u
#define FOF_WANTMAPPINGHANDLE 0x0020u
#define FOF_ALLOWUNDO 0x0040u
#define FOF_FILESONLY 0x0080u
#define FOF_SIMPLEPROGRESS 0x0100u
#define FOF_NOCONFIRMMKDIR 0x0200u
#define FOF_NOERRORUI 0x0400u
#define FOF_NOCOPYSECURITYATTRIBS 0x0800u
#define FOF_NORECURSION 0x1000u
#define FOF_NO_CONNECTED_ELEMENTS 0x2000u
#define FOF_WANTNUKEWARNING 0x4000u
#define FOF_NORECURSEREPARSE 0x8000u

// Answers 0 on success, else the Windows code for the failure (the shell's
// DE_* codes and Win32 error codes, as SHFileOperationW gives them).
int SHFileOperationW(LPSHFILEOPSTRUCTW lpFileOp);

// ---- Special folders -----------------------------------------------------------

// CSIDL values, sorted by value; CSIDL_FLAG_CREATE may be or-ed in.
#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_PERSONAL 0x0005
#define CSIDL_FAVORITES 0x0006
#define CSIDL_STARTUP 0x0007
#define CSIDL_RECENT 0x0008
#define CSIDL_SENDTO 0x0009
#define CSIDL_STARTMENU 0x000b
#define CSIDL_MYDOCUMENTS CSIDL_PERSONAL
#define CSIDL_MYMUSIC 0x000d
#define CSIDL_MYVIDEO 0x000e
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_NETHOOD 0x0013
#define CSIDL_FONTS 0x0014
#define CSIDL_TEMPLATES 0x0015
#define CSIDL_COMMON_STARTMENU 0x0016
#define CSIDL_COMMON_PROGRAMS 0x0017
#define CSIDL_COMMON_STARTUP 0x0018
#define CSIDL_COMMON_DESKTOPDIRECTORY 0x0019
#define CSIDL_APPDATA 0x001a
#define CSIDL_PRINTHOOD 0x001b
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_COMMON_FAVORITES 0x001f
#define CSIDL_INTERNET_CACHE 0x0020
#define CSIDL_COOKIES 0x0021
#define CSIDL_HISTORY 0x0022
#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_MYPICTURES 0x0027
#define CSIDL_PROFILE 0x0028
#define CSIDL_COMMON_DOCUMENTS 0x002e
#define CSIDL_COMMON_MUSIC 0x0035
#define CSIDL_COMMON_PICTURES 0x0036
#define CSIDL_COMMON_VIDEO 0x0037
#define CSIDL_FLAG_CREATE 0x8000
#define CSIDL_FLAG_DONT_VERIFY 0x4000
#define CSIDL_FLAG_MASK 0xFF00

#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

// pszPath receives at most MAX_PATH units. S_OK; S_FALSE when the folder
// does not exist (without CSIDL_FLAG_CREATE), E_INVALIDARG for an identifier
// with no Linux equivalent, E_FAIL (or the Win32 error as an HRESULT) when
// it cannot be made or the path is too long.
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
// The same folder as an item identifier list (free with ILFree).
HRESULT SHGetFolderLocation(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, PIDLIST_ABSOLUTE* ppidl);
void ILFree(LPITEMIDLIST pidl);
