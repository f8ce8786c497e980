#include "Md5.h"

#include "ExceptionReport.h"
#include "Win32Api.h"

#ifndef _WIN32
#  include <openssl/evp.h>
#endif

namespace quorvane {

#ifdef _WIN32

namespace {

// The verify-only provider context and one hash object, released in reverse.
class CryptoHash {
 public:
  CryptoHash() {
    CHECK(runtime_error, CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
      CryptReleaseContext(provider, 0);
      RAISE("CryptCreateHash(CALG_MD5) failed");
    }
  }
  ~CryptoHash() {
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
  }
  CryptoHash(const CryptoHash&) = delete;
  CryptoHash& operator=(const CryptoHash&) = delete;

  HCRYPTHASH hash = 0;

 private:
  HCRYPTPROV provider = 0;
};

}  // namespace

Md5Digest ComputeMd5(const unsigned char* bytes, size_t count) {
  CryptoHash md5;
  // CryptHashData takes a DWORD count: feed very long input in pieces.
  while (count > 0) {
    const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    CHECK(runtime_error, CryptHashData(md5.hash, bytes, piece, 0));
    bytes += piece;
    count -= piece;
  }
  Md5Digest digest;
  DWORD length = static_cast<DWORD>(digest.size());
  CHECK(runtime_error, CryptGetHashParam(md5.hash, HP_HASHVAL, digest.data(), &length, 0));
  CHECK(runtime_error, length == digest.size());
  return digest;
}

#else

Md5Digest ComputeMd5(const unsigned char* bytes, size_t count) {
  static const unsigned char kNothing = 0;
  Md5Digest digest;
  unsigned int length = 0;
  CHECK(runtime_error, EVP_Digest(count > 0 ? bytes : &kNothing, count, digest.data(), &length, EVP_md5(), nullptr) == 1);
  CHECK(runtime_error, length == digest.size());
  return digest;
}

#endif

}  // namespace quorvane
