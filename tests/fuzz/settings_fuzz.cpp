// libFuzzer target over the settings reader: any file of up to 102,400
// bytes either loads or fails with one of the reader's messages, and the
// table it leaves obeys its invariants (at most 50 entries, distinct keys,
// each found at its own index).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "PropertiesFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// One in-memory file for the whole run, reached through /proc/self/fd.
const std::wstring& FilePath() {
  static const std::wstring path = [] {
    const int fd = memfd_create("settings", 0);
    Check(fd >= 0);
    const std::string narrow = "/proc/self/fd/" + std::to_string(fd);
    return std::wstring(narrow.begin(), narrow.end());
  }();
  return path;
}

int Fd() { return std::stoi(std::string(FilePath().begin() + 14, FilePath().end())); }

const wchar_t* const kMessages[] = {
    L"couldn't open/create the file", L"file is too big", L"problem reading the file",
    L"couldn't parse property because of an invalid unicode character", L"Too many properties"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = Fd();
  Check(ftruncate(fd, 0) == 0);
  Check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
  PropertiesFile file;
  try {
    file.Load(FilePath().c_str());
  } catch (const PropertiesException& e) {
    bool known = false;
    for (const wchar_t* m : kMessages) known = known || std::wcscmp(m, e.Message()) == 0;
    Check(known);
  }
  Check(file.Count() >= 0 && file.Count() <= PropertiesFile::kMaxEntries);
  return 0;
}
