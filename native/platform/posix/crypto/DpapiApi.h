// Data protection (crypt32's CryptProtectData / CryptUnprotectData) of the
// Linux build, per user only. A blob is sealed with AES-256-GCM under the
// user's master key (MasterKey.h) and binds the user's uid, so a blob of
// another user fails as it does on Windows (ProtectedBlob.h).
#pragma once

#include <string.h>

#include "../base/WinError.h"
#include "../base/WinTypes.h"

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} DATA_BLOB, CRYPT_INTEGER_BLOB;

typedef struct _CRYPTPROTECT_PROMPTSTRUCT {
  DWORD cbSize;
  DWORD dwPromptFlags;
  HWND hwndApp;
  LPCWSTR szPrompt;
} CRYPTPROTECT_PROMPTSTRUCT;

#define CRYPTPROTECT_UI_FORBIDDEN 0x1u
#define CRYPTPROTECT_LOCAL_MACHINE 0x4u

#ifndef ERROR_INVALID_DATA
#  define ERROR_INVALID_DATA 13L
#endif
#define NTE_BAD_KEY_STATE static_cast<HRESULT>(0x8009000Bu)

// Zeroing the compiler may not drop as a dead store.
inline void* SecureZeroMemory(void* ptr, SIZE_T cnt) {
  explicit_bzero(ptr, cnt);
  return ptr;
}

// Seals pDataIn for the calling user; *pDataOut gets a LocalAlloc block.
// No entropy, prompt or flags are supported here: any of them is
// ERROR_INVALID_PARAMETER rather than a blob that means something else.
// FALSE with the reason in the last-error code (NTE_BAD_KEY_STATE when no
// master key can be had).
BOOL CryptProtectData(DATA_BLOB* pDataIn, LPCWSTR szDataDescr, DATA_BLOB* pOptionalEntropy, void* pvReserved,
                      CRYPTPROTECT_PROMPTSTRUCT* pPromptStruct, DWORD dwFlags, DATA_BLOB* pDataOut);

// Opens a blob of CryptProtectData. A malformed or altered blob is
// ERROR_INVALID_DATA, as crypt32 answers; a blob whose key is not the
// user's (another user's, or a key that is gone) is NTE_BAD_KEY_STATE, as
// DPAPI answers when it cannot find the master key. The description, when
// asked for, is a LocalAlloc block.
BOOL CryptUnprotectData(DATA_BLOB* pDataIn, LPWSTR* ppszDataDescr, DATA_BLOB* pOptionalEntropy, void* pvReserved,
                        CRYPTPROTECT_PROMPTSTRUCT* pPromptStruct, DWORD dwFlags, DATA_BLOB* pDataOut);
