// Held keys live in slots of one page left out of core dumps. Callers share the lock while
// they use a key; a slot is filled, checked or dropped under the exclusive
// lock, and a store is read (which may wait on the session bus) under none.
#include "KeyCache.h"

#include <openssl/crypto.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

namespace quorvane {
namespace posix {
namespace {

constexpr size_t kSlots = 8;
constexpr int64_t kFileCheckUs = 1000000;
constexpr int64_t kStoreReadUs = 60000000;

int64_t NowUs() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_uid == b.st_uid &&
         a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the store `origin` describes still holds what it held; a Secret
// Service key to protect with only while no key file is there to be used.
bool StoreUnchanged(const KeyOrigin& origin, bool forProtecting) {
  struct stat file;
  const bool fileThere = ::lstat(origin.path.c_str(), &file) == 0;
  if (!origin.file) return !forProtecting || (!fileThere && errno == ENOENT);
  struct stat folder;
  const std::string folderPath = origin.path.substr(0, origin.path.rfind('/'));
  return fileThere && SameStatus(file, origin.fileStatus) && ::lstat(folderPath.c_str(), &folder) == 0 &&
         SameStatus(folder, origin.folderStatus);
}

struct Slot {
  bool used = false;
  bool forProtecting = false;  // the key LoadMasterKey(nullptr) gave
  KeyOrigin origin;
  int64_t readUs = 0, checkedUs = 0;
};

// The process's held keys; never destroyed (calls may come while the
// process exits), only wiped.
struct Held {
  std::shared_mutex lock;
  MasterKey* keys = nullptr;  // kSlots keys in the page, or null
  bool locked = false;
  Slot slots[kSlots];
  size_t next = 0;  // the slot filled next when all are used
  bool closed = false;

  Held() {
    void* page =
        ::mmap(nullptr, sizeof(MasterKey) * kSlots, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return;
    if (::madvise(page, sizeof(MasterKey) * kSlots, MADV_DONTDUMP) != 0) {
      ::munmap(page, sizeof(MasterKey) * kSlots);
      return;
    }
    // Unlocked, the page may reach swap, as the key file itself is on disk;
    // reading a store on every call would cost far more than that risk saves.
    locked = ::mlock(page, sizeof(MasterKey) * kSlots) == 0;
    keys = new (page) MasterKey[kSlots];
  }

  // Exclusive lock held.
  void Wipe() {
    if (keys == nullptr) return;
    for (size_t i = 0; i < kSlots; ++i) keys[i].~MasterKey();  // each cleanses itself
    if (locked) ::munlock(keys, sizeof(MasterKey) * kSlots);
    ::munmap(keys, sizeof(MasterKey) * kSlots);
    keys = nullptr;
    for (Slot& slot : slots) slot = Slot();
  }

  // The usable slot for `keyId` (null: the protecting key), or -1. Shared lock held.
  int Find(const BYTE* keyId, const std::string& path, int64_t now, bool& stale) const {
    stale = false;
    for (size_t i = 0; keys != nullptr && i < kSlots; ++i) {
      const Slot& slot = slots[i];
      if (!slot.used || slot.origin.path != path) continue;
      if (keyId != nullptr ? std::memcmp(keys[i].id, keyId, kKeyIdSize) != 0 : !slot.forProtecting) continue;
      stale = now - slot.checkedUs >= kFileCheckUs || now - slot.readUs >= kStoreReadUs;
      return static_cast<int>(i);
    }
    return -1;
  }

  // Checks a stale slot again; whether it may be used. Exclusive lock held.
  bool Recheck(size_t i, int64_t now) {
    Slot& slot = slots[i];
    if (slot.used && now - slot.readUs < kStoreReadUs &&
        StoreUnchanged(slot.origin, slot.forProtecting)) {
      slot.checkedUs = now;
      return true;
    }
    Drop(i);
    return false;
  }

  void Drop(size_t i) {
    OPENSSL_cleanse(keys[i].key, kMasterKeySize);
    OPENSSL_cleanse(keys[i].id, kKeyIdSize);
    slots[i] = Slot();
  }

  // Holds `key`, read now from `origin`. Exclusive lock held.
  void Keep(const MasterKey& key, const KeyOrigin& origin, bool forProtecting, int64_t now) {
    if (keys == nullptr) return;
    size_t target = kSlots;
    for (size_t i = 0; i < kSlots; ++i) {
      if (slots[i].used && std::memcmp(keys[i].id, key.id, kKeyIdSize) == 0) {
        target = i;  // one slot per key, which may also be the protecting one
        forProtecting = forProtecting || slots[i].forProtecting;
      } else if (forProtecting && slots[i].forProtecting) {
        Drop(i);
      }
    }
    for (size_t i = 0; i < kSlots && target == kSlots; ++i) {
      if (!slots[i].used) target = i;
    }
    if (target == kSlots) {
      target = next;
      next = (next + 1) % kSlots;
      Drop(target);
    }
    std::memcpy(keys[target].key, key.key, kMasterKeySize);
    std::memcpy(keys[target].id, key.id, kKeyIdSize);
    slots[target] = Slot{true, forProtecting, origin, now, now};
  }
};

Held& TheHeld() {
  static Held* const held = new Held();
  return *held;
}

// Wipes the held keys when the library is unloaded or the process exits.
struct WipeAtUnload {
  ~WipeAtUnload() {
    Held& held = TheHeld();
    std::unique_lock<std::shared_mutex> exclusive(held.lock);
    held.closed = true;
    held.Wipe();
  }
} wipeAtUnload;

}  // namespace

DWORD WithMasterKey(const BYTE* keyId, const std::function<DWORD(const MasterKey&)>& use) {
  Held& held = TheHeld();
  const std::string path = KeyFilePath();
  const int64_t now = NowUs();
  {
    std::shared_lock<std::shared_mutex> shared(held.lock);
    bool stale = false;
    const int i = held.Find(keyId, path, now, stale);
    if (i >= 0 && !stale) return use(held.keys[i]);
  }
  {
    std::unique_lock<std::shared_mutex> exclusive(held.lock);
    bool stale = false;
    const int i = held.Find(keyId, path, now, stale);
    if (i >= 0 && (!stale || held.Recheck(static_cast<size_t>(i), now))) {
      std::shared_lock<std::shared_mutex> shared(held.lock, std::defer_lock);
      exclusive.unlock();
      shared.lock();
      // Another thread may have dropped or replaced it meanwhile: then look again below.
      bool again = false;
      if (held.Find(keyId, path, now, again) == i) return use(held.keys[i]);
    }
  }
  MasterKey key;
  KeyOrigin origin;
  if (const DWORD error = LoadMasterKey(keyId, key, &origin)) return error;
  {
    std::unique_lock<std::shared_mutex> exclusive(held.lock);
    if (!held.closed) held.Keep(key, origin, keyId == nullptr, NowUs());
  }
  return use(key);
}

}  // namespace posix
}  // namespace quorvane
