// Identifier texts of the tracking record: unpadded standard Base64 of 16
// bytes (22 characters). Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

// Standard alphabet (RFC 4648), no '=' padding, no line breaks: 4 characters
// per whole 3 bytes, then 2 for a trailing byte or 3 for a trailing pair.
std::wstring ToBase64Text(const unsigned char* bytes, size_t count);

// A fresh 128-bit identifier as text. Windows: CoCreateGuid, its bytes as the
// GUID lies in memory. Elsewhere: a random RFC 4122 version 4 UUID from the
// system's cryptographic generator, bytes in their natural order. Throws
// std::runtime_error when no identifier can be made.
std::wstring NewGuidText();

}  // namespace quorvane
