// The whole path of getFileVersionNumber over a file's bytes: the size query, the read into a buffer of exactly
// that size (and of a shorter one), and the root query, which must point inside the buffer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/text/FileSystemText.h"
#include "posix/version/VersionApi.h"

namespace {

void Query(const std::wstring& path, DWORD length) {
  // Exactly `length` bytes on the heap, so a read past them is caught.
  std::vector<uint8_t> block(length);
  if (!GetFileVersionInfoW(path.c_str(), 0, length, block.data())) return;
  LPVOID value = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(block.data(), L"\\", &value, &size)) return;
  const auto* info = static_cast<const uint8_t*>(value);
  if (info < block.data() || info + size > block.data() + block.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("pe", MFD_CLOEXEC);
  static const std::wstring path =
      quorvane::posix::WideFromFileSystemText("/proc/self/fd/" + std::to_string(fd));
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  const DWORD length = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (length == 0) return 0;
  if (length > size) std::abort();
  Query(path, length);
  Query(path, length / 2);
  return 0;
}
