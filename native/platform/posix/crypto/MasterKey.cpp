// The master key file, and the choice between it and the Secret Service.
// Creating the file is link(2) of a fully written, fsynced temporary file:
// link never replaces an existing name, so exactly one of several creators
// wins and the others read the winner's key; no reader ever sees a
// half-written file under the final name. The folder is opened once, without
// following a link, and checked through its descriptor; the file, its
// temporary and the lock are reached from there, so a folder swapped after
// the check cannot hand over a key from a store others could change.
//
// A key file found while the Secret Service is ready is moved there: stored,
// read back, and only then unlinked, under the lock file. A crash at any
// step leaves the key in the file, in both stores, or in the service, so no
// blob ever loses its key; the next load finishes the move.
#include "MasterKey.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../files/Folders.h"
#include "../kernel/UniqueFd.h"
#include "../process/SystemLog.h"
#include "DpapiApi.h"
#include "SecretServiceKey.h"

namespace quorvane {
namespace posix {

namespace {

constexpr const char kKeyFolder[] = "/quorvane/keys";
constexpr const char kKeyFile[] = "master.key";
constexpr const char kLockFile[] = "master.lock";  // held while a Secret Service key is made
constexpr const char kKeyIdLabel[] = "quorvane data protection key id v1";
const DWORD kNoKey = static_cast<DWORD>(NTE_BAD_KEY_STATE);

std::string DataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;  // a relative value is ignored, as XDG says
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? home : "";
  if (base.empty()) {
    struct passwd pw, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) != 0 || found == nullptr) return {};
    base = pw.pw_dir;
  }
  return base + "/.local/share";
}

// Our own, and private: refuse anything another user could read or replace.
bool Private(const struct stat& st, mode_t type) {
  return (st.st_mode & S_IFMT) == type && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Why a store fails Private, for the log.
std::string Why(const struct stat& st, mode_t type) {
  if ((st.st_mode & S_IFMT) != type) return type == S_IFDIR ? "not a folder" : "not a regular file";
  if (st.st_uid != geteuid())
    return "owned by uid " + std::to_string(st.st_uid) + ", not by uid " + std::to_string(geteuid());
  char mode[16];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return std::string("mode ") + mode + " lets other users in (0700 for the folder, 0600 for the file)";
}

// Logs, once per process, why the key store at `path` is not used.
void LogRefusal(const std::string& what, const std::string& path, const std::string& why) {
  std::string shown;
  for (const char c : path) shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  LogWarningOnce("data protection refuses the key " + what + " " + shown + ": " + why);
}

bool ReadAll(int fd, BYTE* into, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, into + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  BYTE extra;
  return ::read(fd, &extra, 1) == 0;
}

// 0, ERROR_FILE_NOT_FOUND when there is no key file, or another code (a
// refused file is logged; `path` is the file's, for that).
DWORD ReadKeyFile(int folder, BYTE (&key)[kMasterKeySize], struct stat& st, const std::string& path) {
  UniqueFd fd(::openat(folder, kKeyFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) return ERROR_FILE_NOT_FOUND;
    if (errno == ELOOP) LogRefusal("file", path, "a symbolic link");
    return kNoKey;
  }
  if (::fstat(fd.Get(), &st) != 0) return kNoKey;
  if (!Private(st, S_IFREG)) {
    LogRefusal("file", path, Why(st, S_IFREG));
    return kNoKey;
  }
  if (ReadAll(fd.Get(), key, kMasterKeySize)) return 0;
  LogRefusal("file", path, "not " + std::to_string(kMasterKeySize) + " bytes long");
  return kNoKey;
}

// Writes a new key under a temporary name and links it to `path`. 0 when
// ours won, ERROR_FILE_EXISTS when another process's key got there first.
DWORD CreateKeyFile(int folder, const BYTE (&key)[kMasterKeySize]) {
  BYTE nonce[8];
  if (RAND_bytes(nonce, sizeof nonce) != 1) return kNoKey;
  std::string temp = std::string(".") + kKeyFile + "." + std::to_string(::getpid()) + ".";
  for (BYTE b : nonce) temp += "0123456789abcdef"[b & 15];
  UniqueFd fd(::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid()) return Win32ErrorFromErrno(errno);
  const bool written = WriteAll(fd.Get(), key, kMasterKeySize) && ::fsync(fd.Get()) == 0;
  fd.Reset();
  DWORD result = 0;
  if (!written) {
    result = kNoKey;
  } else if (::linkat(folder, temp.c_str(), folder, kKeyFile, 0) != 0) {
    result = errno == EEXIST ? ERROR_FILE_EXISTS : Win32ErrorFromErrno(errno);
  }
  ::unlinkat(folder, temp.c_str(), 0);
  if (result == 0) ::fsync(folder);  // the new name survives a crash
  return result;
}

bool ComputeKeyId(MasterKey& key) {
  BYTE digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
                  EVP_DigestUpdate(ctx, kKeyIdLabel, sizeof kKeyIdLabel) == 1 &&
                  EVP_DigestUpdate(ctx, key.key, kMasterKeySize) == 1 &&
                  EVP_DigestFinal_ex(ctx, digest, &length) == 1 && length >= kKeyIdSize;
  EVP_MD_CTX_free(ctx);
  if (ok) std::memcpy(key.id, digest, kKeyIdSize);
  return ok;
}

// The Secret Service's key `keyId` (any of ours when null), its id checked:
// 0, ERROR_FILE_NOT_FOUND when it has none, or another code.
DWORD ServiceKey(SecretServiceKeys& service, const BYTE* keyId, MasterKey& out) {
  const DWORD result = service.Find(keyId, out);
  if (result != 0) return result;
  if (!ComputeKeyId(out) || (keyId != nullptr && std::memcmp(out.id, keyId, kKeyIdSize) != 0)) return kNoKey;
  return 0;
}

// The lock file, held: the user's processes take turns on it to change the
// Secret Service's keys. Invalid, with errno, when it cannot be had.
UniqueFd LockStores(int folder) {
  UniqueFd lock(::openat(folder, kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  while (lock.Valid() && ::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) lock.Reset();
  }
  return lock;
}

// Makes the Secret Service's key. Storing an item is not atomic, so the
// user's creators take turns on a lock file, look again, and each uses what
// the service holds after its store.
DWORD CreateServiceKey(int folder, SecretServiceKeys& service, MasterKey& out) {
  const UniqueFd lock = LockStores(folder);
  if (!lock.Valid()) return Win32ErrorFromErrno(errno);
  DWORD result = ServiceKey(service, nullptr, out);
  if (result == ERROR_FILE_NOT_FOUND) {
    MasterKey made;
    if (RAND_bytes(made.key, kMasterKeySize) != 1 || !ComputeKeyId(made)) return kNoKey;
    result = service.Store(made);
    if (result == 0) result = ServiceKey(service, nullptr, out);
  }
  return result == ERROR_FILE_NOT_FOUND ? kNoKey : result;  // unlocked with its descriptor
}

// Moves `key`, read from the key file, into the Secret Service: 0 once the
// service holds it (the file then removed), else a code and the file kept.
DWORD MoveIntoService(int folder, SecretServiceKeys& service, const MasterKey& key, const std::string& path) {
  const UniqueFd lock = LockStores(folder);
  if (!lock.Valid()) return Win32ErrorFromErrno(errno);
  MasterKey file, held;
  struct stat st;
  DWORD result = ReadKeyFile(folder, file.key, st, path);  // again, under the lock
  if (result == ERROR_FILE_NOT_FOUND) return ServiceKey(service, key.id, held);  // another process moved it
  if (result != 0) return result;
  if (std::memcmp(file.key, key.key, kMasterKeySize) != 0) return kNoKey;  // replaced meanwhile: left alone
  result = ServiceKey(service, key.id, held);
  if (result == ERROR_FILE_NOT_FOUND) {
    result = service.Store(key);
    if (result == 0) result = ServiceKey(service, key.id, held);
  }
  if (result != 0) return result == ERROR_FILE_NOT_FOUND ? kNoKey : result;
  struct stat now;
  if (::fstatat(folder, kKeyFile, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == st.st_dev &&
      now.st_ino == st.st_ino && ::unlinkat(folder, kKeyFile, 0) == 0)
    ::fsync(folder);
  return 0;
}

}  // namespace

MasterKey::~MasterKey() {
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(id, sizeof id);
}

std::string KeyFilePath() {
  const std::string data = DataFolder();
  return data.empty() ? data : data + kKeyFolder + "/" + kKeyFile;
}

DWORD LoadMasterKey(const BYTE* keyId, MasterKey& out, KeyOrigin* origin) {
  const bool create = keyId == nullptr;
  const std::string path = KeyFilePath();
  if (path.empty()) return kNoKey;
  const std::string folder = path.substr(0, path.rfind('/'));
  KeyOrigin read;
  read.path = path;
  struct stat& st = read.folderStatus;

  if (create) {
    std::string refused;
    if (const int error = MakeOwnFolders(folder, 0700, refused)) {
      if (error != EPERM || refused.empty()) return Win32ErrorFromErrno(error);
      LogRefusal("folder", folder, "it would be made in " + refused + ", which another user owns");
      return kNoKey;
    }
  }
  DWORD result = ERROR_FILE_NOT_FOUND;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.Valid()) {
    if (errno == ELOOP || errno == ENOTDIR) {  // a link or a file: not our folder
      LogRefusal("folder", folder, errno == ELOOP ? "a symbolic link" : "not a folder");
      return kNoKey;
    }
    if (errno != ENOENT) return Win32ErrorFromErrno(errno);
  } else if (::fstat(dir.Get(), &st) != 0) {
    return Win32ErrorFromErrno(errno);
  } else if (!Private(st, S_IFDIR)) {
    LogRefusal("folder", folder, Why(st, S_IFDIR));
    return kNoKey;  // a store others could change is refused, not passed over
  } else {
    result = ReadKeyFile(dir.Get(), out.key, read.fileStatus, path);
  }
  std::optional<SecretServiceKeys> service;
  if (result == 0) {
    if (!ComputeKeyId(out)) return kNoKey;
    read.file = true;
    // The keyring is the key's home: a key file made while there was none
    // moves into it.
    service.emplace();
    if (service->State() == KeyService::kReady && MoveIntoService(dir.Get(), *service, out, path) == 0)
      read.file = false;
    if (create || std::memcmp(out.id, keyId, kKeyIdSize) == 0) {
      if (origin != nullptr) *origin = read;
      return 0;
    }
    result = ERROR_FILE_NOT_FOUND;  // the blob's key may be in the Secret Service
  }
  if (result != ERROR_FILE_NOT_FOUND) return result;

  read.file = false;
  if (origin != nullptr) *origin = read;
  if (!service) service.emplace();
  const KeyService state = service->State();
  if (state == KeyService::kReady) {
    result = ServiceKey(*service, keyId, out);
    if (result != ERROR_FILE_NOT_FOUND) return result;
    return create && dir.Valid() ? CreateServiceKey(dir.Get(), *service, out) : kNoKey;
  }
  // A key file made beside a locked keyring, or one that was slow to answer
  // once, would stay the user's key, in clear, after the keyring opens: no
  // key until it does. Only a session without a keyring gets a file.
  if (!create || state != KeyService::kNone || !dir.Valid()) return kNoKey;

  MasterKey made;
  if (RAND_bytes(made.key, kMasterKeySize) != 1) return kNoKey;
  result = CreateKeyFile(dir.Get(), made.key);
  if (result == 0) {
    std::memcpy(out.key, made.key, kMasterKeySize);
    if (::fstatat(dir.Get(), kKeyFile, &read.fileStatus, AT_SYMLINK_NOFOLLOW) != 0) read.fileStatus = {};
  } else if (result == ERROR_FILE_EXISTS) {
    result = ReadKeyFile(dir.Get(), out.key, read.fileStatus, path);  // the other process won: use its key
  }
  if (result == ERROR_FILE_NOT_FOUND) result = kNoKey;
  if (result == 0 && !ComputeKeyId(out)) result = kNoKey;
  read.file = true;
  if (result == 0 && origin != nullptr) *origin = read;
  return result;
}

}  // namespace posix
}  // namespace quorvane
