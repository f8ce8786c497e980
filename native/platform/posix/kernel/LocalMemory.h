// LocalAlloc / LocalFree of the Linux build: fixed blocks on the C heap, as
// the buffers that FormatMessageW allocates (and other calls that hand their
// caller memory to free with LocalFree) need.
#pragma once

#include "../base/WinTypes.h"

typedef HANDLE HLOCAL;

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// NULL with ERROR_NOT_ENOUGH_MEMORY when the block cannot be had;
// LMEM_MOVEABLE is refused with ERROR_INVALID_PARAMETER (nothing here uses it).
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
// NULL on success (a null block included); the block is wiped before it is freed.
HLOCAL LocalFree(HLOCAL hMem);
