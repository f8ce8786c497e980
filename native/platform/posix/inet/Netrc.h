// The user's ~/.netrc, the stored credentials of Unix network clients, read
// strictly: whitespace-separated tokens, "quoted tokens" with \" \\ \n \r \t
// escapes, "#" comments to the end of a line, and the keywords machine,
// default, login, password, account and macdef (whose body runs to the next
// empty line). Anything else - an unknown keyword, a keyword without its
// value, a login outside an entry, an unterminated quote, a second default,
// a file over kMaxNetrcBytes - makes the whole file unusable: a half-read
// file could hand one server's password to another.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {
namespace posix {
namespace inet {

constexpr size_t kMaxNetrcBytes = 1 << 20;

struct NetrcEntry {
  std::string machine;  // empty for the default entry
  bool isDefault = false;
  std::string login, password, account;
};

// Every entry in file order; nullopt for a file that breaks the rules above.
std::optional<std::vector<NetrcEntry>> ParseNetrc(std::string_view text);

// The first entry whose machine is `host` (case ignored); nullopt when none
// exists or it has no login. Never the default entry: a password typed for
// one server must not go to whichever server asks.
std::optional<NetrcEntry> FindNetrcEntry(const std::vector<NetrcEntry>& entries, std::string_view host);

// The entry for `host` in $HOME/.netrc (the passwd home when HOME is unset).
std::optional<NetrcEntry> UserNetrcEntry(std::string_view host);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
