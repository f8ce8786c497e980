// AES-256-GCM sealing of protected blobs through OpenSSL's EVP interface;
// every return code is checked and a failure is never taken as success.
#include "ProtectedBlob.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "DpapiApi.h"

namespace quorvane {
namespace posix {

namespace {

// EVP lengths are int: feed large data in pieces.
constexpr size_t kPiece = size_t{1} << 30;

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Cipher = std::unique_ptr<EVP_CIPHER_CTX, CipherFree>;

void PutDword(std::vector<BYTE>& out, DWORD value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<BYTE>(value >> shift));
}

DWORD GetDword(const BYTE* at) {
  return DWORD{at[0]} | DWORD{at[1]} << 8 | DWORD{at[2]} << 16 | DWORD{at[3]} << 24;
}

// Where the description's length is, by version.
size_t DescriptionSizeOffset(DWORD version) {
  return version >= kBlobVersion ? kBlobUidOffset + 4 : kBlobUidOffset;
}

// What is authenticated after the header: from version 3 the header holds the uid.
std::vector<BYTE> IdentityBytes(const UserIdentity& user, DWORD version) {
  std::vector<BYTE> out;
  if (version >= kBlobVersion) return out;
  PutDword(out, user.uid);
  if (version == kBlobVersionNamed) {
    PutDword(out, static_cast<DWORD>(user.name.size()));
    out.insert(out.end(), user.name.begin(), user.name.end());
  }
  return out;
}

// Runs the data through an initialised context, piece by piece.
bool Transform(EVP_CIPHER_CTX* ctx, bool encrypt, const BYTE* in, size_t size, BYTE* out) {
  for (size_t done = 0; done < size;) {
    const int piece = static_cast<int>(std::min(kPiece, size - done));
    int written = 0;
    const int ok = encrypt ? EVP_EncryptUpdate(ctx, out + done, &written, in + done, piece)
                           : EVP_DecryptUpdate(ctx, out + done, &written, in + done, piece);
    if (ok != 1 || written != piece) return false;
    done += static_cast<size_t>(piece);
  }
  return true;
}

bool AddAad(EVP_CIPHER_CTX* ctx, bool encrypt, const BYTE* aad, size_t size) {
  int written = 0;
  if (size > INT_MAX) return false;
  return (encrypt ? EVP_EncryptUpdate(ctx, nullptr, &written, aad, static_cast<int>(size))
                  : EVP_DecryptUpdate(ctx, nullptr, &written, aad, static_cast<int>(size))) == 1;
}

}  // namespace

bool CurrentUser(UserIdentity& user, bool named) {
  struct passwd pw, *found = nullptr;
  char buffer[4096];
  user.uid = ::geteuid();
  if (!named) return true;
  if (getpwuid_r(user.uid, &pw, buffer, sizeof buffer, &found) != 0 || found == nullptr) return false;
  user.name = pw.pw_name;
  return true;
}

bool ParseBlob(const BYTE* bytes, size_t size, BlobView& view) {
  if (bytes == nullptr || size < kBlobVersionOffset + 4) return false;
  if (std::memcmp(bytes, kBlobMagic, sizeof kBlobMagic) != 0) return false;
  const DWORD version = GetDword(bytes + kBlobVersionOffset);
  if (version != kBlobVersion && version != kBlobVersionUidBound && version != kBlobVersionNamed) return false;
  const size_t descriptionOffset = DescriptionSizeOffset(version) + 4;
  const size_t minimumSize = descriptionOffset + kBlobNonceSize + kBlobTagSize;
  if (size < minimumSize) return false;
  const size_t descriptionSize = GetDword(bytes + DescriptionSizeOffset(version));
  if (descriptionSize % 2 != 0 || descriptionSize > size - minimumSize) return false;
  view.version = version;
  view.hasUid = version >= kBlobVersion;
  view.uid = view.hasUid ? GetDword(bytes + kBlobUidOffset) : 0;
  view.keyId = bytes + kBlobKeyIdOffset;
  view.description = bytes + descriptionOffset;
  view.descriptionSize = descriptionSize;
  view.headerSize = descriptionOffset + descriptionSize;
  view.nonce = bytes + view.headerSize;
  view.data = view.nonce + kBlobNonceSize;
  view.dataSize = size - minimumSize - descriptionSize;
  view.tag = view.data + view.dataSize;
  return true;
}

DWORD SealBlob(const MasterKey& key, const UserIdentity& user, const std::u16string& description, const BYTE* plain,
               size_t plainSize, std::vector<BYTE>& blob) {
  const size_t descriptionSize = description.size() * 2;
  const size_t minimumSize = DescriptionSizeOffset(kBlobVersion) + 4 + kBlobNonceSize + kBlobTagSize;
  if (descriptionSize > 0xFFFFu || plainSize > SIZE_MAX - minimumSize - descriptionSize)
    return ERROR_INVALID_PARAMETER;
  blob.clear();
  blob.reserve(minimumSize + descriptionSize + plainSize);
  blob.insert(blob.end(), kBlobMagic, kBlobMagic + sizeof kBlobMagic);
  PutDword(blob, kBlobVersion);
  blob.insert(blob.end(), key.id, key.id + kKeyIdSize);
  PutDword(blob, user.uid);
  PutDword(blob, static_cast<DWORD>(descriptionSize));
  for (char16_t unit : description) {
    blob.push_back(static_cast<BYTE>(unit));
    blob.push_back(static_cast<BYTE>(unit >> 8));
  }
  const size_t headerSize = blob.size();
  blob.resize(headerSize + kBlobNonceSize + plainSize + kBlobTagSize);
  BYTE* nonce = blob.data() + headerSize;
  BYTE* data = nonce + kBlobNonceSize;
  if (RAND_bytes(nonce, kBlobNonceSize) != 1) return static_cast<DWORD>(NTE_BAD_KEY_STATE);

  const std::vector<BYTE> identity = IdentityBytes(user, kBlobVersion);
  Cipher ctx(EVP_CIPHER_CTX_new());
  int written = 0;
  const bool ok =
      ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kBlobNonceSize, nullptr) == 1 &&
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.key, nonce) == 1 &&
      AddAad(ctx.get(), true, blob.data(), headerSize) &&
      AddAad(ctx.get(), true, identity.data(), identity.size()) &&
      Transform(ctx.get(), true, plain, plainSize, data) &&
      EVP_EncryptFinal_ex(ctx.get(), data + plainSize, &written) == 1 && written == 0 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kBlobTagSize, data + plainSize) == 1;
  if (!ok) {
    blob.clear();
    return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

DWORD OpenBlob(const MasterKey& key, const UserIdentity& user, const BlobView& view, BYTE* plain) {
  if (CRYPTO_memcmp(view.keyId, key.id, kKeyIdSize) != 0 || (view.hasUid && view.uid != user.uid)) {
    OPENSSL_cleanse(plain, view.dataSize);
    return static_cast<DWORD>(NTE_BAD_KEY_STATE);
  }
  const BYTE* header = view.keyId - kBlobKeyIdOffset;
  const std::vector<BYTE> identity = IdentityBytes(user, view.version);
  BYTE tag[kBlobTagSize];
  std::memcpy(tag, view.tag, kBlobTagSize);  // the control takes a non-const pointer
  Cipher ctx(EVP_CIPHER_CTX_new());
  int written = 0;
  const bool ok =
      ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kBlobNonceSize, nullptr) == 1 &&
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.key, view.nonce) == 1 &&
      AddAad(ctx.get(), false, header, view.headerSize) &&
      AddAad(ctx.get(), false, identity.data(), identity.size()) &&
      Transform(ctx.get(), false, view.data, view.dataSize, plain) &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kBlobTagSize, tag) == 1 &&
      EVP_DecryptFinal_ex(ctx.get(), plain + view.dataSize, &written) == 1 && written == 0;
  if (!ok) {
    OPENSSL_cleanse(plain, view.dataSize);
    return ERROR_INVALID_DATA;
  }
  return 0;
}

}  // namespace posix
}  // namespace quorvane
