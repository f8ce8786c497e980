#include "RequestTarget.h"

#include <cstdint>

#include "../text/FileSystemText.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

bool IsIpv6Literal(const std::string& name) {
  if (name.find(':') == std::string::npos) return false;
  for (char c : name) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != ':' && c != '.') return false;
  }
  return true;
}

}  // namespace

std::string Utf8Text(const WCHAR* text, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]);
    AppendUtf8(out, c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
  }
  return out;
}

std::string RequestTargetFor(const WCHAR* objectName) {
  if (objectName == nullptr || *objectName == 0) return "/";
  // A fragment names a part of the answer for the client alone.
  size_t length = 0;
  while (objectName[length] != 0 && objectName[length] != L'#') ++length;
  if (length == 0) return "/";
  static const char kHex[] = "0123456789ABCDEF";
  std::string target;
  for (unsigned char c : Utf8Text(objectName, length)) {
    if (c <= 0x20 || c >= 0x7F) {
      target += '%';
      target += kHex[c >> 4];
      target += kHex[c & 0xF];
    } else {
      target += static_cast<char>(c);
    }
  }
  return target;
}

bool IsUsableServerName(const std::string& name) {
  std::string bare = name;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
    return IsIpv6Literal(bare);
  }
  if (bare.empty()) return false;
  if (bare.find(':') != std::string::npos) return IsIpv6Literal(bare);
  for (unsigned char c : bare) {
    if (c <= 0x20 || c == 0x7F) return false;
    for (char forbidden : std::string("/\\?#@[]"))
      if (c == static_cast<unsigned char>(forbidden)) return false;
  }
  return true;
}

std::string Origin(bool secure, const std::string& host, unsigned port) {
  const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
  std::string origin = secure ? "https://" : "http://";
  origin += bracket ? "[" + host + "]" : host;
  origin += ':' + std::to_string(port);
  return origin;
}

std::string UrlOn(const std::string& origin, const std::string& target) {
  return origin + (!target.empty() && target.front() == '/' ? target : "/" + target);
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
