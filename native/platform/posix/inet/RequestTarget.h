// What a request names: the server and the object name, which are used as
// given and never re-parsed. The URL curl sees is only scheme://host:port/;
// the object name goes out verbatim as the request target.
#pragma once

#include <string>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

// UTF-8 of wide text; code points beyond Unicode and lone surrogates
// become U+FFFD.
std::string Utf8Text(const WCHAR* text, size_t count);
inline std::string Utf8Text(const std::wstring& text) { return Utf8Text(text.data(), text.size()); }

// The request target for an object name. Like WinInet, the name is escaped
// rather than refused: every byte of its UTF-8 form that is a control
// character, a space, DEL or non-ASCII becomes %XX, so a CR/LF or a space
// can never end the request line early; everything else (an existing %XX
// included) is kept, up to a '#' that starts a fragment. Null or empty: "/".
std::string RequestTargetFor(const WCHAR* objectName);

// Whether a server name can stand as the host of scheme://host:port/
// without changing what the URL means: not empty, no control character,
// space or any of / \ ? # @ [ ], and a ':' only in an IPv6 literal (hex
// digits, ':' and '.'), with or without its brackets.
bool IsUsableServerName(const std::string& name);

// "scheme://host:port" with an IPv6 literal bracketed.
std::string Origin(bool secure, const std::string& host, unsigned port);

// The URL of `target` on `origin`. A target not starting with "/" gets one,
// so that it can never become a part of the authority
// ("http://a.test:80" + "@b.test/x").
std::string UrlOn(const std::string& origin, const std::string& target);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
