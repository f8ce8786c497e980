#include "LocalMemory.h"

#include <malloc.h>
#include <string.h>

#include <cstdlib>

#include "../base/ErrnoMapping.h"

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (uFlags & ~LPTR) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A block of 0 bytes is still a distinct block, as on Windows.
  const SIZE_T size = uBytes == 0 ? 1 : uBytes;
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
  // Blocks may hold secrets (CryptUnprotectData's plain text): none stays in freed memory.
  if (hMem != nullptr) explicit_bzero(hMem, malloc_usable_size(hMem));
  std::free(hMem);
  return nullptr;
}
