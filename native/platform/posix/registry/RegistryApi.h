// Registry services of the Linux build: RegCreateKeyW, RegCreateKeyExW,
// RegOpenKeyExW, RegSetValueExW, RegQueryValueExW, RegEnumKeyExW,
// RegEnumValueW, RegDeleteValueW, RegDeleteKeyW and RegCloseKey, with the
// signatures, constants and error codes of advapi32.
//
// What they mean here:
// - HKEY_CURRENT_USER is the user's own database,
//   $XDG_DATA_HOME/quorvane/registry.sqlite3 (~/.local/share when unset; the
//   folder is made 0700).
// - HKEY_CLASSES_ROOT is HKEY_CURRENT_USER\Software\Classes, with
//   HKEY_LOCAL_MACHINE\Software\Classes behind it: a key the user lacks is
//   opened from the machine (read-only for a user), new keys are made in the
//   user's classes, and enumeration lists the one side the handle is on.
// - HKEY_LOCAL_MACHINE, HKEY_USERS and HKEY_CURRENT_CONFIG (the one hardware
//   profile there is) are the machine database,
//   /var/lib/quorvane/registry.sqlite3 ($QV_REGISTRY_MACHINE_DIR overrides
//   the folder).
// - Either store absent reads as empty; one this user may read but not
//   write is read, and every write answers ERROR_ACCESS_DENIED, as for a
//   non-administrator; a damaged one answers ERROR_BADDB.
// - Names of keys and values compare as Windows compares them (each UTF-16
//   unit upper-cased, whatever the locale) and keep the case they were
//   created with; data is kept as the exact bytes the caller gave.
// - Key handles are ours, 32-bit values that the kernel's handle table never
//   hands out; RegCloseKey closes them, CloseHandle does not know them.
// Text parameters are WCHAR (UTF-32 in this build); data bytes are untouched,
// so REG_SZ data from Java stays UTF-16LE.
#pragma once

#include "../base/WinTypes.h"

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
struct _SECURITY_ATTRIBUTES;

// Predefined keys: the Windows values, sign-extended as a LONG cast gives them.
#define QV_PREDEFINED_KEY(value) (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(value))))
#define HKEY_CLASSES_ROOT QV_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER QV_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE QV_PREDEFINED_KEY(0x80000002u)
#define HKEY_USERS QV_PREDEFINED_KEY(0x80000003u)
#define HKEY_CURRENT_CONFIG QV_PREDEFINED_KEY(0x80000005u)

// Value types, sorted by value.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_RESOURCE_LIST 8u
#define REG_QWORD 11u

// Access rights, sorted by value.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_DELETE_RIGHT 0x00010000u  // DELETE
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_ALL_ACCESS 0x000F003Fu
#ifndef MAXIMUM_ALLOWED
#  define MAXIMUM_ALLOWED 0x02000000u
#endif

// RegCreateKeyExW options and dispositions.
#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_OPTION_VOLATILE 0x1u
#define REG_CREATED_NEW_KEY 0x1u
#define REG_OPENED_EXISTING_KEY 0x2u

// Error codes the registry answers with that WinError.h lacks, sorted by value.
#ifndef ERROR_BAD_PATHNAME
#  define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_FILE_TOO_LARGE
#  define ERROR_FILE_TOO_LARGE 223L
#endif
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L

// Element limits, in UTF-16 units.
#define QV_MAX_KEY_NAME 255u
#define QV_MAX_VALUE_NAME 16383u
// The largest value, in bytes: a row of SQLite's holds at most 10^9 bytes,
// and the names take up to 98,298 of them.
#define QV_MAX_VALUE_SIZE 999000000u

// lpSubKey null or empty: a new handle to hKey itself. A key more than 512
// levels below its root is refused with ERROR_INVALID_PARAMETER, as on
// Windows.
LSTATUS RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
// Options and the security record are accepted and not used (nothing is
// volatile across a restart of the user's session here either way).
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const _SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Data over QV_MAX_VALUE_SIZE bytes is refused with ERROR_FILE_TOO_LARGE.
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
// Subkeys in the order of their upper-cased names. lpcchName counts units
// with the terminator going in and without it coming out.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime);
// Values in the order they were first set.
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// A key with subkeys is refused with ERROR_ACCESS_DENIED, as on Windows, and
// so is a root, however it is named.
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegCloseKey(HKEY hKey);
