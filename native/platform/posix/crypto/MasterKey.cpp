// The master key file, and the choice between it and the Secret Service.
// Creating the file is link(2) of a fully written, fsynced temporary file:
// link never replaces an existing name, so exactly one of several creators
// wins and the others read the winner's key; no reader ever sees a
// half-written file under the final name. The folder is opened once, without
// following a link, and checked through its descriptor; the file, its
// temporary and the lock are reached from there, so a folder swapped after
// the check cannot hand over a key from a store others could change.
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
#include <cstring>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../files/Folders.h"
#include "../kernel/UniqueFd.h"
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

// 0, ERROR_FILE_NOT_FOUND when there is no key file, or another code.
DWORD ReadKeyFile(int folder, BYTE (&key)[kMasterKeySize], struct stat& st) {
  UniqueFd fd(::openat(folder, kKeyFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid()) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : kNoKey;
  if (::fstat(fd.Get(), &st) != 0 || !Private(st, S_IFREG)) return kNoKey;
  return ReadAll(fd.Get(), key, kMasterKeySize) ? 0 : kNoKey;
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

// Makes the Secret Service's key. Storing an item is not atomic, so the
// user's creators take turns on a lock file, look again, and each uses what
// the service holds after its store.
DWORD CreateServiceKey(int folder, SecretServiceKeys& service, MasterKey& out) {
  UniqueFd lock(::openat(folder, kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock.Valid()) return Win32ErrorFromErrno(errno);
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Win32ErrorFromErrno(errno);
  }
  DWORD result = ServiceKey(service, nullptr, out);
  if (result == ERROR_FILE_NOT_FOUND) {
    MasterKey made;
    if (RAND_bytes(made.key, kMasterKeySize) != 1 || !ComputeKeyId(made)) return kNoKey;
    result = service.Store(made);
    if (result == 0) result = ServiceKey(service, nullptr, out);
  }
  return result == ERROR_FILE_NOT_FOUND ? kNoKey : result;  // unlocked with its descriptor
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
    if (const int error = MakeFolders(folder, 0700)) return Win32ErrorFromErrno(error);
  }
  DWORD result = ERROR_FILE_NOT_FOUND;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.Valid()) {
    if (errno == ELOOP || errno == ENOTDIR) return kNoKey;  // a link or a file: not our folder
    if (errno != ENOENT) return Win32ErrorFromErrno(errno);
  } else if (::fstat(dir.Get(), &st) != 0 || !Private(st, S_IFDIR)) {
    return kNoKey;  // a store others could change is refused, not passed over
  } else {
    result = ReadKeyFile(dir.Get(), out.key, read.fileStatus);
  }
  if (result == 0) {
    if (!ComputeKeyId(out)) return kNoKey;
    read.file = true;
    if (origin != nullptr) *origin = read;
    if (create || std::memcmp(out.id, keyId, kKeyIdSize) == 0) return 0;
    result = ERROR_FILE_NOT_FOUND;  // the blob's key may be in the Secret Service
  }
  if (result != ERROR_FILE_NOT_FOUND) return result;

  read.file = false;
  if (origin != nullptr) *origin = read;
  SecretServiceKeys service;
  if (service.State() == KeyService::kReady) {
    result = ServiceKey(service, keyId, out);
    if (result != ERROR_FILE_NOT_FOUND) return result;
    return create && dir.Valid() ? CreateServiceKey(dir.Get(), service, out) : kNoKey;
  }
  // A key file made beside a locked keyring would stay the user's key, in
  // clear, after the unlocking: no key until the keyring opens.
  if (!create || service.State() == KeyService::kUnusable || !dir.Valid()) return kNoKey;

  MasterKey made;
  if (RAND_bytes(made.key, kMasterKeySize) != 1) return kNoKey;
  result = CreateKeyFile(dir.Get(), made.key);
  if (result == 0) {
    std::memcpy(out.key, made.key, kMasterKeySize);
    if (::fstatat(dir.Get(), kKeyFile, &read.fileStatus, AT_SYMLINK_NOFOLLOW) != 0) read.fileStatus = {};
  } else if (result == ERROR_FILE_EXISTS) {
    result = ReadKeyFile(dir.Get(), out.key, read.fileStatus);  // the other process won: use its key
  }
  if (result == ERROR_FILE_NOT_FOUND) result = kNoKey;
  if (result == 0 && !ComputeKeyId(out)) result = kNoKey;
  read.file = true;
  if (result == 0 && origin != nullptr) *origin = read;
  return result;
}

}  // namespace posix
}  // namespace quorvane
