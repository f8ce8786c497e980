// UuidCreate: version 4 (random) UUIDs from getrandom, which blocks only
// until the kernel's pool is first seeded, early in boot.
#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "RpcApi.h"

namespace {

constexpr RPC_STATUS kInvalidArgument = 87;  // RPC_S_INVALID_ARG

bool FillRandom(void* buffer, size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(bytes + filled, size - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

RPC_STATUS UuidCreate(UUID* Uuid) {
  if (Uuid == nullptr) return kInvalidArgument;
  UUID made;
  if (!FillRandom(&made, sizeof made)) {
    std::memset(Uuid, 0, sizeof *Uuid);
    return RPC_S_UUID_NO_ADDRESS;
  }
  // RFC 4122: version 4 in the top nibble of time_hi_and_version (Data3),
  // variant 10 in the top bits of clock_seq_hi (Data4[0]).
  made.Data3 = static_cast<uint16_t>((made.Data3 & 0x0FFFu) | 0x4000u);
  made.Data4[0] = static_cast<uint8_t>((made.Data4[0] & 0x3Fu) | 0x80u);
  *Uuid = made;
  return RPC_S_OK;
}
