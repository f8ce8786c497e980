// Transfers on open files of the Linux build with the Windows contracts:
// ReadFile, WriteFile, SetFilePointer(Ex), GetFileSize(Ex), FlushFileBuffers,
// MoveFileExW. Files are opened by CreateFileW (files/FilesApi.h); handles
// live in the kernel handle table (close with CloseHandle). Paths are Linux
// paths, written as UTF-8 (FileSystemText.h). Synchronous I/O only (an
// OVERLAPPED answers ERROR_NOT_SUPPORTED).
#pragma once

#include "../base/WinTypes.h"
#include "../kernel/Handles.h"

typedef LARGE_INTEGER* PLARGE_INTEGER;
typedef LONG* PLONG;
typedef DWORD* LPDWORD;
struct _OVERLAPPED;
typedef struct _OVERLAPPED* LPOVERLAPPED;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

// Reads until nNumberOfBytesToRead or the end of the file.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
// Writes everything or fails.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
// Writes the file's data through to the device (fdatasync).
BOOL FlushFileBuffers(HANDLE hFile);
// A rename. Without MOVEFILE_REPLACE_EXISTING an existing target fails with
// ERROR_ALREADY_EXISTS; MOVEFILE_WRITE_THROUGH returns once the rename is on
// disk (both folders synced). Across file systems: ERROR_NOT_SAME_DEVICE
// (MOVEFILE_COPY_ALLOWED is not offered).
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
