// The master key as an item of the session's Secret Service (the desktop
// keyring), through libsecret. libsecret is opened with dlopen on first use,
// so a machine without it still loads us and keeps its keys in the key file.
//
// The item: schema "com.quorvane.MasterKey", attributes "purpose" (always
// "data-protection") and "key-id" (hex of the key's id), the 32 key bytes as
// its secret, stored in the default collection.
//
// Nothing here may wait on a person or on a missing service: with no session
// bus address, a Secret Service that does not answer a ping at once, or a
// default collection that is missing or locked (unlocking would prompt), the
// store is unavailable and the caller uses the key file. Each call makes its
// own service proxy and main context, and leaves neither behind.
#pragma once

#include <memory>

#include "../WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

// One connection to the Secret Service, for the length of one key look-up.
// Not thread-safe; each call makes its own.
class SecretServiceKeys final {
 public:
  SecretServiceKeys();
  ~SecretServiceKeys();
  SecretServiceKeys(const SecretServiceKeys&) = delete;
  SecretServiceKeys& operator=(const SecretServiceKeys&) = delete;

  // False when the keys cannot be kept in the Secret Service (see above).
  bool Available() const;

  // The key whose id is `keyId` (16 bytes), or with null any of our keys:
  // 0 and `out.key` filled (the caller checks its id), ERROR_FILE_NOT_FOUND
  // when there is none, or another Windows error code.
  DWORD Find(const BYTE* keyId, MasterKey& out);

  // Stores `key` (its id computed) as a new item; 0 or a Windows error code.
  DWORD Store(const MasterKey& key);

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

}  // namespace posix
}  // namespace quorvane
