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
// unlocked. A Secret Service that D-Bus starts on demand is started. Every
// look-up uses the process's one bus connection and a session of its own,
// closed when it ends.
#pragma once

#include <memory>

#include "../base/WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

// What the session offers for keeping keys.
enum class KeyService {
  kNone,      // no session bus, or a bus that says it has no Secret Service
              // and cannot start one
  kSilent,    // a bus or Secret Service that did not answer in time: this
              // call has no keyring, a later one tries again
  kUnusable,  // a Secret Service answers, but its default collection is locked
              // or missing
  kReady,
};

// One session with the Secret Service, for the length of one key look-up.
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
