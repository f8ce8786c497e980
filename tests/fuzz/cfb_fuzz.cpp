// The compound-file engine must walk, rewrite and walk again any file it opens (a memfd, reached by path).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/storage/cfb/CompoundFile.h"

namespace cfb = quorvane::posix::cfb;

namespace {

bool WalkAndRead(const std::string& path, const cfb::ShareMode& mode) {
  std::shared_ptr<cfb::CompoundFile> file;
  std::vector<cfb::WalkEntry> entries;
  if (FAILED(cfb::CompoundFile::Open(path, mode, file)) || FAILED(file->Walk(entries))) return false;
  for (const auto& entry : entries) {
    std::vector<uint8_t> data;
    if (entry.entry.objectType == cfb::kTypeStream && SUCCEEDED(file->ReadStreamAt(entry.path, data)) &&
        data.size() != entry.entry.streamSize)
      abort();  // a read must be whole
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("cfb", MFD_CLOEXEC);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  cfb::ShareMode reader, writer;
  writer.write = writer.denyWrite = true;
  std::shared_ptr<cfb::CompoundFile> file;
  if (fd >= 0 && (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) && WalkAndRead(path, reader) &&
      SUCCEEDED(cfb::CompoundFile::Open(path, writer, file))) {
    const std::vector<uint8_t> payload(data, data + (size < 5000 ? size : 5000));
    const HRESULT first = file->WriteStream(u"\005SummaryInformation", payload);
    const HRESULT second = file->WriteStream(u"QvFuzzAdded", std::vector<uint8_t>(payload.rbegin(), payload.rend()));
    file.reset();
    // A file that read cleanly and took both writes must still read cleanly.
    if (SUCCEEDED(first) && SUCCEEDED(second) && !WalkAndRead(path, reader)) abort();
  }
  if (fd >= 0) close(fd);
  return 0;
}
