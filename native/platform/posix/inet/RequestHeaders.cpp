#include "RequestHeaders.h"

#include <strings.h>

#include <algorithm>

#include "RequestTarget.h"
#include "WinInetApi.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsTokenChar(unsigned char c) { return c > 0x20 && c < 0x7F && c != ':'; }

}  // namespace

DWORD RequestHeaders::Add(const WCHAR* text, DWORD length, DWORD modifiers) {
  if (text == nullptr) return ERROR_INVALID_PARAMETER;
  size_t count = 0;
  while ((length == static_cast<DWORD>(-1) || count < length) && text[count] != 0) ++count;
  const std::string all = Utf8Text(text, count);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    const DWORD error = AddLine(line, modifiers);
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

DWORD RequestHeaders::AddLine(const std::string& line, DWORD modifiers) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return ERROR_INVALID_PARAMETER;
  Header header{line.substr(0, colon), Trimmed(line.substr(colon + 1))};
  if (!std::all_of(header.name.begin(), header.name.end(), [](char c) { return IsTokenChar(c); }))
    return ERROR_INVALID_PARAMETER;
  for (unsigned char c : header.value)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return ERROR_INVALID_PARAMETER;

  auto existing = std::find_if(headers_.begin(), headers_.end(),
                               [&](const Header& h) { return SameName(h.name, header.name); });
  const bool found = existing != headers_.end();
  if ((modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) != 0) {
    if (found) return ERROR_HTTP_HEADER_ALREADY_EXISTS;
    headers_.push_back(header);
  } else if ((modifiers & HTTP_ADDREQ_FLAG_REPLACE) != 0) {
    if (!found) {
      if ((modifiers & HTTP_ADDREQ_FLAG_ADD) == 0) return ERROR_HTTP_HEADER_NOT_FOUND;
      if (!header.value.empty()) headers_.push_back(header);
    } else if (header.value.empty()) {
      headers_.erase(existing);
    } else {
      existing->value = header.value;
    }
  } else if (found && (modifiers & (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA | HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON))) {
    existing->value += (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) != 0 ? ", " : "; ";
    existing->value += header.value;
  } else {
    headers_.push_back(header);
  }
  return ERROR_SUCCESS;
}

bool RequestHeaders::Has(const std::string& name) const {
  return std::any_of(headers_.begin(), headers_.end(), [&](const Header& h) { return SameName(h.name, name); });
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
