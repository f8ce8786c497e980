// Whatever a PE file holds, the version reader asks only for bytes inside it and stays inside what it returns.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "posix/version/PeVersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const quorvane::posix::ReadAt read = [&](uint64_t offset, void* out, size_t count) {
    if (offset > size || count > size - offset) return false;
    std::memcpy(out, data + offset, count);
    return true;
  };
  std::vector<uint8_t> resource;
  if (!quorvane::posix::ReadPeVersionResource(read, &resource)) return 0;
  if (resource.empty() || resource.size() > size) std::abort();
  const uint8_t* info = quorvane::posix::FindFixedFileInfo(resource.data(), resource.size());
  if (info != nullptr && (info < resource.data() || info + 52 > resource.data() + resource.size())) std::abort();
  return 0;
}
