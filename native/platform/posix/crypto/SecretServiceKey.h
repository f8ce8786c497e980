// The master key as an item of the session's Secret Service (the desktop
// keyring), spoken to over D-Bus on a private connection of ours
// (SessionBus.h), so that every step, the connection included, has a
// deadline.
//
// The item: schema "com.quorvane.MasterKey", attributes "purpose" (always
// "data-protection") and "key-id" (hex of the key's id), the 32 key bytes as
// its secret, stored in the default collection.
//
// Nothing here waits on a person: no prompt is ever run and nothing is
// unlocked. Each look-up makes its own connection and session and leaves
// neither behind.
#pragma once

#include <memory>

#include "../base/WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

// What the session offers for keeping keys.
enum class KeyService {
  kNone,      // no session bus, or no Secret Service answering on it
  kUnusable,  // a Secret Service answers, but its default collection is locked
              // or missing
  kReady,
};

// One connection to the Secret Service, for the length of one key look-up.
// Not thread-safe; each call makes its own.
class SecretServiceKeys final {
 public:
  SecretServiceKeys();
  ~SecretServiceKeys();
  SecretServiceKeys(const SecretServiceKeys &) = delete;
  SecretServiceKeys &operator=(const SecretServiceKeys &) = delete;

  KeyService State() const { return state_; }

  // The key whose id is `keyId` (16 bytes), or with null any of our keys:
  // 0 and `out.key` filled (the caller checks its id), ERROR_FILE_NOT_FOUND
  // when there is none, or another Windows error code.
  DWORD Find(const BYTE *keyId, MasterKey &out);

  // Stores `key` (its id computed) as a new item; 0 or a Windows error code.
  DWORD Store(const MasterKey &key);

 private:
  struct Session;
  std::unique_ptr<Session> session_;
  KeyService state_ = KeyService::kNone;
};

}  // namespace posix
}  // namespace quorvane
