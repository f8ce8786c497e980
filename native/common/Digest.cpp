#include "Digest.h"

#include "ExceptionReport.h"
#include "Win32Api.h"

#ifndef _WIN32
#  include <openssl/evp.h>
#endif

namespace quorvane {

namespace {

#ifdef _WIN32

// A verify-only provider context and one hash object, released in reverse.
class CryptoHash {
 public:
  CryptoHash(DWORD providerType, ALG_ID algorithm) {
    CHECK(runtime_error, CryptAcquireContextW(&provider, nullptr, nullptr, providerType, CRYPT_VERIFYCONTEXT));
    if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
      CryptReleaseContext(provider, 0);
      RAISE("CryptCreateHash failed");
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

template <size_t N>
std::array<unsigned char, N> Compute(DWORD providerType, ALG_ID algorithm, const unsigned char* bytes, size_t count) {
  CryptoHash digester(providerType, algorithm);
  // CryptHashData takes a DWORD count: feed very long input in pieces.
  while (count > 0) {
    const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    CHECK(runtime_error, CryptHashData(digester.hash, bytes, piece, 0));
    bytes += piece;
    count -= piece;
  }
  std::array<unsigned char, N> digest;
  DWORD length = static_cast<DWORD>(digest.size());
  CHECK(runtime_error, CryptGetHashParam(digester.hash, HP_HASHVAL, digest.data(), &length, 0));
  CHECK(runtime_error, length == digest.size());
  return digest;
}

#else

template <size_t N>
std::array<unsigned char, N> Compute(const EVP_MD* algorithm, const unsigned char* bytes, size_t count) {
  static const unsigned char kNothing = 0;
  std::array<unsigned char, N> digest;
  unsigned int length = 0;
  CHECK(runtime_error, EVP_Digest(count > 0 ? bytes : &kNothing, count, digest.data(), &length, algorithm, nullptr) == 1);
  CHECK(runtime_error, length == digest.size());
  return digest;
}

#endif

}  // namespace

#ifdef _WIN32
Md5Digest ComputeMd5(const unsigned char* bytes, size_t count) {
  return Compute<16>(PROV_RSA_FULL, CALG_MD5, bytes, count);
}
// SHA-256 needs the AES provider; the full one has no SHA-2.
Sha256Digest ComputeSha256(const unsigned char* bytes, size_t count) {
  return Compute<32>(PROV_RSA_AES, CALG_SHA_256, bytes, count);
}
#else
Md5Digest ComputeMd5(const unsigned char* bytes, size_t count) { return Compute<16>(EVP_md5(), bytes, count); }
Sha256Digest ComputeSha256(const unsigned char* bytes, size_t count) { return Compute<32>(EVP_sha256(), bytes, count); }
#endif

}  // namespace quorvane
