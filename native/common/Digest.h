// Message digests from the platform's cryptography: CryptoAPI on Windows,
// OpenSSL libcrypto elsewhere. MD5 (RFC 1321) for the straggler tripwire,
// SHA-256 to tell binary property values apart without carrying them.
// Stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>

namespace quorvane {

typedef std::array<unsigned char, 16> Md5Digest;
typedef std::array<unsigned char, 32> Sha256Digest;

// Each throws std::runtime_error when the platform cannot digest.
Md5Digest ComputeMd5(const unsigned char* bytes, size_t count);
Sha256Digest ComputeSha256(const unsigned char* bytes, size_t count);

}  // namespace quorvane
