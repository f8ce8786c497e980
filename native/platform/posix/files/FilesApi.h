// Files, folder changes and drives of the Linux build, with the Windows
// contracts and the meaning a Linux user expects:
//
//   CreateFileW            open(2), with Windows share modes enforced among all
//                          openers in all processes (the compound-file engine's
//                          open-file-description locks, cfb/ShareLocks.h)
//   ReadDirectoryChangesW  inotify behind a folder handle
//   SetFileAttributesW,    READONLY as the write permission bits; HIDDEN,
//   GetFileAttributesW     SYSTEM, ARCHIVE, ... in the "user.DOSATTRIB"
//                          extended attribute as Samba keeps them
//   GetDriveTypeW,         the mount table (libmount) and the block device's
//   QueryDosDeviceW        properties (libudev); a drive is a mount point
//
// Paths are Linux paths ('/' between folder levels) written as UTF-8
// (FileSystemText.h). Handles live in the kernel handle table and are closed
// with CloseHandle.
#pragma once

#include "FileApi.h"
#include "../base/WinTypes.h"
#include "../kernel/Handles.h"

// Rights, flags and attributes, sorted by value.
#define FILE_READ_DATA 0x00000001u
#define FILE_LIST_DIRECTORY 0x00000001u
#define DELETE 0x00010000u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_ATTRIBUTE_OFFLINE 0x00001000u
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define FILE_NOTIFY_CHANGE_FILE_NAME 0x00000001u
#define FILE_NOTIFY_CHANGE_DIR_NAME 0x00000002u
#define FILE_NOTIFY_CHANGE_ATTRIBUTES 0x00000004u
#define FILE_NOTIFY_CHANGE_SIZE 0x00000008u
#define FILE_NOTIFY_CHANGE_LAST_WRITE 0x00000010u
#define FILE_NOTIFY_CHANGE_LAST_ACCESS 0x00000020u
#define FILE_NOTIFY_CHANGE_CREATION 0x00000040u
#define FILE_NOTIFY_CHANGE_SECURITY 0x00000100u

#define FILE_ACTION_ADDED 1u
#define FILE_ACTION_REMOVED 2u
#define FILE_ACTION_MODIFIED 3u
#define FILE_ACTION_RENAMED_OLD_NAME 4u
#define FILE_ACTION_RENAMED_NEW_NAME 5u

#define DRIVE_UNKNOWN 0u
#define DRIVE_NO_ROOT_DIR 1u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

#ifndef ERROR_OPERATION_ABORTED
#  define ERROR_OPERATION_ABORTED 995L
#endif

// The record ReadDirectoryChangesW writes, as Windows lays it out: each
// record starts on a DWORD boundary, NextEntryOffset is 0 for the last one,
// FileNameLength counts bytes of UTF-16LE text without a terminator.
// (FileName is UTF-16 here whatever WCHAR is: records are bytes for Java.)
typedef struct _FILE_NOTIFY_INFORMATION {
  DWORD NextEntryOffset;
  DWORD Action;
  DWORD FileNameLength;
  uint16_t FileName[1];
} FILE_NOTIFY_INFORMATION, *PFILE_NOTIFY_INFORMATION;

#ifndef CALLBACK
#  define CALLBACK
#endif
typedef void(CALLBACK* LPOVERLAPPED_COMPLETION_ROUTINE)(DWORD dwErrorCode, DWORD dwNumberOfBytesTransfered,
                                                        LPOVERLAPPED lpOverlapped);

// INVALID_HANDLE_VALUE on failure. On success the last error is
// ERROR_ALREADY_EXISTS when OPEN_ALWAYS or CREATE_ALWAYS found the file,
// else 0. A folder opens only with FILE_FLAG_BACKUP_SEMANTICS (otherwise
// ERROR_ACCESS_DENIED). A share mode that conflicts with another opener's
// access, or an access that another opener's share mode denies, fails with
// ERROR_SHARING_VIOLATION before anything is created or truncated.
// FILE_FLAG_DELETE_ON_CLOSE removes the file when its handle is closed. The
// security attributes and the template file are not read.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Synchronous only: an overlapped record or a completion routine answers
// FALSE with ERROR_NOT_SUPPORTED. The first call on a handle starts the
// watch with its filter and subtree flag, which stay for the handle's life
// (as NTFS keeps the first call's); changes between calls are kept. See
// files/DirectoryWatch.h for what is reported and when.
BOOL ReadDirectoryChangesW(HANDLE hDirectory, LPVOID lpBuffer, DWORD nBufferLength, BOOL bWatchSubtree,
                           DWORD dwNotifyFilter, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped,
                           LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

// READONLY clears every write permission bit of a file; clearing it gives
// the owner the write bit back (a folder keeps READONLY with the other
// bits, as its write bit means something else here). HIDDEN, SYSTEM,
// ARCHIVE, TEMPORARY, OFFLINE and NOT_CONTENT_INDEXED are kept in
// "user.DOSATTRIB" as "0x<hex>", the form Samba reads; on a file system
// without user extended attributes they are dropped, as on a volume that
// cannot hold them, and the call still succeeds. NORMAL alone clears all.
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);
// What SetFileAttributesW keeps, DIRECTORY for folders, HIDDEN also for a
// name starting with '.', NORMAL when nothing else applies;
// INVALID_FILE_ATTRIBUTES with the Windows error on failure.
DWORD GetFileAttributesW(LPCWSTR lpFileName);

// A root path is a mount point, with or without a trailing '/'; null is the
// mount point holding the current folder. DRIVE_NO_ROOT_DIR for a path that
// is not a mount point or does not exist.
UINT GetDriveTypeW(LPCWSTR lpRootPathName);
// The source of the mount point lpDeviceName ("/dev/sda1", "server:/share",
// "tmpfs") as a double-zero list; null lists every mount point, sorted (so
// "/" first). The count
// of characters stored, 0 on failure: ERROR_FILE_NOT_FOUND for a path that is
// not a mount point, ERROR_INSUFFICIENT_BUFFER when ucchMax is too small.
DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax);
