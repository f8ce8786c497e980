// Any settings file loads or fails with one of the reader's messages, and leaves at most 50 entries.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>

#include "PropertiesFile.h"

namespace {

// One in-memory file for the whole run, reached through /proc/self/fd.
const int kFd = memfd_create("settings", 0);
const std::string kPath = "/proc/self/fd/" + std::to_string(kFd);

const wchar_t* const kMessages[] = {
    L"couldn't open/create the file", L"file is too big", L"problem reading the file",
    L"couldn't parse property because of an invalid unicode character", L"Too many properties"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (kFd < 0 || ftruncate(kFd, 0) != 0 || pwrite(kFd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  PropertiesFile file;
  try {
    file.Load(std::wstring(kPath.begin(), kPath.end()).c_str());
  } catch (const PropertiesException& e) {
    if (std::none_of(std::begin(kMessages), std::end(kMessages), [&](auto m) { return !std::wcscmp(m, e.Message()); }))
      std::abort();
  }
  if (file.Count() < 0 || file.Count() > PropertiesFile::kMaxEntries) std::abort();
  return 0;
}
