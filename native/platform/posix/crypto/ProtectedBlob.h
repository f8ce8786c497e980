// The blob that CryptProtectData hands out on Linux. All numbers little-endian:
//
//   offset       size  field
//   0            4     magic "QVDP"
//   4            4     format version (3; 1 and 2 are still opened)
//   8            16    key id: which master key sealed it (MasterKey.h)
//   24           4     the uid of the user it belongs to
//   28           4     description length in bytes (even)
//   32           n     description, UTF-16LE, in clear
//   32+n         12    nonce, fresh random bytes for each blob
//   44+n         m     the data, AES-256-GCM under the master key
//   44+n+m       16    GCM tag
//
// The additional authenticated data is the header (offsets 0 to 32+n), so a
// change of any byte, or a blob moved to another account, fails the tag. The
// uid is in clear so that a blob of another uid (an account whose uid
// changed) is told apart from a damaged one, as Windows tells a key problem
// from bad data. A renamed account keeps its blobs, as a Windows account
// keeps its SID.
//
// Version 2 had no uid field (its description length at 24) and
// authenticated the uid (4 bytes) after the header; version 1 also the
// user's name (4-byte length, bytes) after the uid, so renaming the account
// lost its blobs. Both still open, with the name authenticated as when they
// were made.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../base/WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

constexpr BYTE kBlobMagic[4] = {'Q', 'V', 'D', 'P'};
constexpr DWORD kBlobVersion = 3;
constexpr DWORD kBlobVersionUidBound = 2;
constexpr DWORD kBlobVersionNamed = 1;
constexpr size_t kBlobVersionOffset = 4;
constexpr size_t kBlobKeyIdOffset = 8;
constexpr size_t kBlobUidOffset = kBlobKeyIdOffset + kKeyIdSize;
constexpr size_t kBlobNonceSize = 12;
constexpr size_t kBlobTagSize = 16;

// Whose blob it is: bound into every blob as authenticated data (the name
// only into version-1 blobs).
struct UserIdentity {
  DWORD uid = 0;
  std::string name;
};

// The calling user (effective uid), with the account's name when `named`;
// false when it is asked for and the account has none.
bool CurrentUser(UserIdentity& user, bool named);

// A parsed blob: pointers into the caller's bytes, every length checked.
struct BlobView {
  DWORD version = 0;
  bool hasUid = false;  // version 3 on
  DWORD uid = 0;
  const BYTE* keyId = nullptr;
  const BYTE* description = nullptr;  // UTF-16LE
  size_t descriptionSize = 0;
  const BYTE* nonce = nullptr;
  const BYTE* data = nullptr;
  size_t dataSize = 0;
  const BYTE* tag = nullptr;
  size_t headerSize = 0;  // magic to the end of the description
};

// False for anything that is not a well-formed blob of a known version.
bool ParseBlob(const BYTE* bytes, size_t size, BlobView& view);

// Seals `plain` into a blob of the current version; 0 or a Windows error code.
DWORD SealBlob(const MasterKey& key, const UserIdentity& user, const std::u16string& description, const BYTE* plain,
               size_t plainSize, std::vector<BYTE>& blob);

// Opens a parsed blob into `plain` (view.dataSize bytes); 0, NTE_BAD_KEY_STATE
// for another key or another uid, ERROR_INVALID_DATA when the tag fails. On
// failure `plain` is wiped.
DWORD OpenBlob(const MasterKey& key, const UserIdentity& user, const BlobView& view, BYTE* plain);

}  // namespace posix
}  // namespace quorvane
