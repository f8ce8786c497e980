// libFuzzer target for the compound-file engine: open the input as a
// compound file, walk every storage, read every stream; when that works,
// replace a property stream and add one, and check the file still walks.
// The input lives in a memfd, reached by path like any document.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/storage/cfb/CompoundFile.h"

namespace cfb = quorvane::posix::cfb;

namespace {

bool WalkAndRead(const std::string& path, const cfb::ShareMode& mode, std::shared_ptr<cfb::CompoundFile>* keep) {
  std::shared_ptr<cfb::CompoundFile> file;
  if (FAILED(cfb::CompoundFile::Open(path, mode, file))) return false;
  std::vector<cfb::WalkEntry> entries;
  if (FAILED(file->Walk(entries))) return false;
  for (const auto& entry : entries) {
    if (entry.entry.objectType != cfb::kTypeStream) continue;
    std::vector<uint8_t> data;
    const HRESULT hr = file->ReadStreamAt(entry.path, data);
    if (SUCCEEDED(hr) && data.size() != entry.entry.streamSize) abort();  // a read must be whole
  }
  if (keep) *keep = std::move(file);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("cfb", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  cfb::ShareMode reader;
  if (WalkAndRead(path, reader, nullptr)) {
    cfb::ShareMode writer;
    writer.write = writer.denyWrite = true;
    std::shared_ptr<cfb::CompoundFile> file;
    if (SUCCEEDED(cfb::CompoundFile::Open(path, writer, file))) {
      const std::vector<uint8_t> payload(data, data + (size < 5000 ? size : 5000));
      const HRESULT first = file->WriteStream(u"\005SummaryInformation", payload);
      const HRESULT second = file->WriteStream(u"QvFuzzAdded", std::vector<uint8_t>(payload.rbegin(), payload.rend()));
      file.reset();
      // A file that read cleanly and took both writes must still read cleanly.
      if (SUCCEEDED(first) && SUCCEEDED(second) && !WalkAndRead(path, reader, nullptr)) abort();
    }
  }
  close(fd);
  return 0;
}
