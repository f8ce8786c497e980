// The blob that CryptProtectData hands out on Linux. All numbers little-endian:
//
//   offset       size  field
//   0            4     magic "QVDP"
//   4            4     format version (1)
//   8            16    key id: which master key sealed it (MasterKey.h)
//   24           4     description length in bytes (even)
//   28           n     description, UTF-16LE, in clear
//   28+n         12    nonce, fresh random bytes for each blob
//   40+n         m     the data, AES-256-GCM under the master key
//   40+n+m       16    GCM tag
//
// The additional authenticated data is the header (offsets 0 to 28+n)
// followed by the user's uid (4 bytes) and name (4-byte length, bytes), so a
// change of any byte, or a blob moved to another account, fails the tag.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

constexpr BYTE kBlobMagic[4] = {'Q', 'V', 'D', 'P'};
constexpr DWORD kBlobVersion = 1;
constexpr size_t kBlobVersionOffset = 4;
constexpr size_t kBlobKeyIdOffset = 8;
constexpr size_t kBlobDescriptionSizeOffset = kBlobKeyIdOffset + kKeyIdSize;
constexpr size_t kBlobDescriptionOffset = kBlobDescriptionSizeOffset + 4;
constexpr size_t kBlobNonceSize = 12;
constexpr size_t kBlobTagSize = 16;
constexpr size_t kBlobMinimumSize = kBlobDescriptionOffset + kBlobNonceSize + kBlobTagSize;

// Whose blob it is: bound into every blob as authenticated data.
struct UserIdentity {
  DWORD uid = 0;
  std::string name;
};

// The calling user (effective uid); false when the account has no name.
bool CurrentUser(UserIdentity& user);

// A parsed blob: pointers into the caller's bytes, every length checked.
struct BlobView {
  const BYTE* keyId = nullptr;
  const BYTE* description = nullptr;  // UTF-16LE
  size_t descriptionSize = 0;
  const BYTE* nonce = nullptr;
  const BYTE* data = nullptr;
  size_t dataSize = 0;
  const BYTE* tag = nullptr;
  size_t headerSize = 0;  // magic to the end of the description
};

// False for anything that is not a well-formed blob of this version.
bool ParseBlob(const BYTE* bytes, size_t size, BlobView& view);

// Seals `plain` into `blob`; 0 or a Windows error code.
DWORD SealBlob(const MasterKey& key, const UserIdentity& user, const std::u16string& description, const BYTE* plain,
               size_t plainSize, std::vector<BYTE>& blob);

// Opens a parsed blob into `plain` (view.dataSize bytes); 0, NTE_BAD_KEY_STATE
// for another key, ERROR_INVALID_DATA when the tag fails. On failure `plain`
// is wiped.
DWORD OpenBlob(const MasterKey& key, const UserIdentity& user, const BlobView& view, BYTE* plain);

}  // namespace posix
}  // namespace quorvane
