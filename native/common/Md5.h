// The MD5 message digest (RFC 1321) of the straggler tripwire, from the
// platform's cryptography: CryptoAPI on Windows, OpenSSL libcrypto elsewhere.
// Stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>

namespace quorvane {

typedef std::array<unsigned char, 16> Md5Digest;

// Throws std::runtime_error when the platform cannot digest.
Md5Digest ComputeMd5(const unsigned char* bytes, size_t count);

}  // namespace quorvane
