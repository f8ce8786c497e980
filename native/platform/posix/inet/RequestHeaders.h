// The headers a request handle carries, changed as HttpAddRequestHeadersW
// changes them: HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE replaces a
// header of the same name (case ignored) or adds it, so a header re-added on
// every retry is sent once; ADD alone adds a copy; ADD_IF_NEW refuses a name
// already there; REPLACE alone needs the name to be there, and with an
// empty value removes it; the COALESCE flags join values with ", " or "; ".
#pragma once

#include <string>
#include <vector>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

class RequestHeaders {
 public:
  struct Header {
    std::string name, value;
  };

  // `text` holds one or more "Name: value" lines separated by CR LF (or LF);
  // `length` is in characters, (DWORD)-1 for null-terminated text. Answers
  // ERROR_SUCCESS or the error: ERROR_INVALID_PARAMETER for a line without
  // a name and colon or holding a control character (nothing may be
  // smuggled into the request), ERROR_HTTP_HEADER_NOT_FOUND,
  // ERROR_HTTP_HEADER_ALREADY_EXISTS. Lines before a failing one stay added.
  DWORD Add(const WCHAR* text, DWORD length, DWORD modifiers);

  bool Has(const std::string& name) const;
  const std::vector<Header>& List() const { return headers_; }

 private:
  DWORD AddLine(const std::string& line, DWORD modifiers);

  std::vector<Header> headers_;
};

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
