// Any ~/.netrc parses or is refused whole; a lookup answers only the host's own entry, with a login, never the default.
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "posix/inet/Netrc.h"

using namespace quorvane::posix::inet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto entries = ParseNetrc(text);
  if (!entries) return 0;
  for (const char* host : {"a.test", "", "machine"}) {
    const auto entry = FindNetrcEntry(*entries, host);
    if (!entry) continue;
    // Only the host's own entry, never the default one.
    const bool own = !entry->isDefault && strcasecmp(entry->machine.c_str(), host) == 0;
    if (entry->login.empty() || !own) std::abort();
  }
  return 0;
}
