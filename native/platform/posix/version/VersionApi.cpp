#include "VersionApi.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "../kernel/UniqueFd.h"
#include "../text/UiLanguage.h"
#include "PeVersionResource.h"

namespace {

bool ReadResource(LPCWSTR path, std::vector<uint8_t>* resource) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int fd = quorvane::posix::OpenRegularFile(quorvane::posix::FileSystemTextFromWide(path).c_str(), O_RDONLY);
  if (fd < 0) {
    quorvane::posix::SetLastErrorFromErrno(errno);
    return false;
  }
  const quorvane::posix::ReadAt read = [fd](uint64_t offset, void* out, size_t count) {
    auto* bytes = static_cast<uint8_t*>(out);
    while (count > 0) {
      if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
      const ssize_t n = pread(fd, bytes, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes += n, offset += static_cast<uint64_t>(n), count -= static_cast<size_t>(n);
    }
    return true;
  };
  const bool found = quorvane::posix::ReadPeVersionResource(read, GetUserDefaultUILanguage(), resource);
  close(fd);
  if (!found) SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return found;
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, DWORD* lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  std::vector<uint8_t> resource;
  if (!ReadResource(lptstrFilename, &resource)) return 0;
  return static_cast<DWORD>(resource.size());
}

BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  std::vector<uint8_t> resource;
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // VerQueryValueW reads the block's 16-bit root length.
  if (dwLen < 2) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!ReadResource(lptstrFilename, &resource)) return FALSE;
  const size_t copied = std::min<size_t>(dwLen, resource.size());
  std::memcpy(lpData, resource.data(), copied);
  // The root length must not promise bytes the caller's buffer lacks.
  if (static_cast<size_t>(resource[0] | resource[1] << 8) > copied) {
    static_cast<uint8_t*>(lpData)[0] = static_cast<uint8_t>(copied);
    static_cast<uint8_t*>(lpData)[1] = static_cast<uint8_t>(copied >> 8);
  }
  return TRUE;
}

BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr || puLen == nullptr ||
      std::wcscmp(lpSubBlock, L"\\") != 0)
    return FALSE;
  const auto* block = static_cast<const uint8_t*>(pBlock);
  // The block's own root length bounds it (GetFileVersionInfoW keeps it true).
  const uint8_t* info = quorvane::posix::FindFixedFileInfo(block, static_cast<size_t>(block[0] | block[1] << 8));
  if (info == nullptr) return FALSE;
  *lplpBuffer = const_cast<uint8_t*>(info);
  *puLen = sizeof(VS_FIXEDFILEINFO);
  return TRUE;
}
