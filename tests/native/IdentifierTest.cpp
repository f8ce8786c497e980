#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <set>
#include <string>
#include <vector>

#include "guid.h"

using quorvane::NewGuidText;
using quorvane::ToBase64Text;

namespace {

std::wstring Encode(const std::vector<unsigned char>& bytes) { return ToBase64Text(bytes.data(), bytes.size()); }

// Independent oracle: OpenSSL's padded encoder with the padding cut off.
std::wstring OpenSslUnpadded(const std::vector<unsigned char>& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  while (!out.empty() && out.back() == '=') out.pop_back();
  return std::wstring(out.begin(), out.end());
}

}  // namespace

// Lengths 0 to 67 against OpenSSL: trailing bytes give two or three characters and no padding.
TEST(Base64Text, MatchesOpenSslWithoutPaddingAndGivesFreshVersion4Identifiers) {
  EXPECT_EQ(L"", ToBase64Text(nullptr, 0));
  EXPECT_EQ(L"+/8", Encode({0xFB, 0xFF})) << "the standard alphabet, not the URL one";
  for (size_t length = 0; length <= 67; ++length) {
    std::vector<unsigned char> bytes(length);
    if (length > 0) ASSERT_EQ(1, RAND_bytes(bytes.data(), static_cast<int>(length)));
    const std::wstring text = Encode(bytes);
    EXPECT_EQ(OpenSslUnpadded(bytes), text) << length;
    EXPECT_EQ(length / 3 * 4 + (length % 3 ? length % 3 + 1 : 0), text.size());
  }
  // Identifiers: fresh version 4 GUIDs as 22 characters.
  std::set<std::wstring> seen;
  for (int i = 0; i < 200; ++i) {
    const std::wstring text = NewGuidText();
    ASSERT_EQ(22u, text.size());
    EXPECT_TRUE(seen.insert(text).second) << "repeated identifier";
    std::string padded(text.begin(), text.end());
    while (padded.size() % 4) padded += '=';
    std::vector<unsigned char> bytes(padded.size());
    const int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(padded.data()),
                                  static_cast<int>(padded.size()));
    bytes.resize(static_cast<size_t>(n) - (padded.size() - text.size()));
    ASSERT_EQ(16u, bytes.size());
    EXPECT_EQ(text, Encode(bytes)) << "no padding, no stray low bits in the last character";
    // RFC 4122 in natural byte order: version 4, variant 10xx.
    EXPECT_EQ(0x40, bytes[6] & 0xF0);
    EXPECT_EQ(0x80, bytes[8] & 0xC0);
  }
}
