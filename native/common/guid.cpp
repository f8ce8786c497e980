#include "guid.h"

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include "ExceptionReport.h"
#include "Win32Api.h"

#ifndef _WIN32
#  include <openssl/rand.h>
#endif

namespace quorvane {

namespace {

const size_t kIdentifierBytes = 16;

// 6-bit groups of the input, most significant first; the last partial group
// is filled with zero bits, which is exactly the unpadded form.
typedef boost::archive::iterators::base64_from_binary<
    boost::archive::iterators::transform_width<const unsigned char*, 6, 8>>
    Base64Iterator;

void NewIdentifierBytes(unsigned char (&bytes)[kIdentifierBytes]) {
#ifdef _WIN32
  GUID guid;
  const HRESULT hr = CoCreateGuid(&guid);
  CHECK(runtime_error, SUCCEEDED(hr));
  // The structure's memory layout: little-endian fields, then Data4 as it stands.
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(guid.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<unsigned char>(guid.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<unsigned char>(guid.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes[8 + i] = guid.Data4[i];
#else
  CHECK(runtime_error, RAND_bytes(bytes, static_cast<int>(kIdentifierBytes)) == 1);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
#endif
}

}  // namespace

std::wstring ToBase64Text(const unsigned char* bytes, size_t count) {
  if (count == 0) return std::wstring();
  return std::wstring(Base64Iterator(bytes), Base64Iterator(bytes + count));
}

std::wstring NewGuidText() {
  unsigned char bytes[kIdentifierBytes];
  NewIdentifierBytes(bytes);
  return ToBase64Text(bytes, kIdentifierBytes);
}

}  // namespace quorvane
