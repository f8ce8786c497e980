#include "Netrc.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "../kernel/UniqueFd.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Splits the file into tokens; macdef bodies and comments are consumed here
// since they are not made of tokens.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  // False at the end of the text or on a malformed token (see failed()).
  bool Next(std::string* token) {
    token->clear();
    for (;;) {
      while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
      if (pos_ >= text_.size()) return false;
      if (text_[pos_] != '#') break;
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    }
    if (text_[pos_] == '"') return Quoted(token);
    while (pos_ < text_.size() && !IsSpace(text_[pos_])) token->push_back(text_[pos_++]);
    return true;
  }

  // Skips a macro body: the rest of the macdef line, then lines up to and
  // including the first empty one (or the end of the file).
  void SkipMacroBody() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    while (pos_ < text_.size()) {
      ++pos_;  // the '\n' ending the previous line
      const size_t start = pos_;
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      if (pos_ == start || (pos_ == start + 1 && text_[start] == '\r')) return;
    }
  }

  bool failed() const { return failed_; }

 private:
  bool Quoted(std::string* token) {
    ++pos_;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos_ >= text_.size()) break;
        c = text_[pos_++];
        if (c == 'n') c = '\n';
        else if (c == 'r') c = '\r';
        else if (c == 't') c = '\t';
      }
      token->push_back(c);
    }
    failed_ = true;
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace

std::optional<std::vector<NetrcEntry>> ParseNetrc(std::string_view text) {
  if (text.size() > kMaxNetrcBytes) return std::nullopt;
  std::vector<NetrcEntry> entries;
  Tokenizer tokens(text);
  std::string keyword, value;
  bool sawDefault = false;
  while (tokens.Next(&keyword)) {
    if (keyword == "default") {
      if (sawDefault) return std::nullopt;
      sawDefault = true;
      entries.push_back(NetrcEntry{});
      entries.back().isDefault = true;
      continue;
    }
    const bool known = keyword == "machine" || keyword == "login" || keyword == "password" ||
                       keyword == "account" || keyword == "macdef";
    if (!known || !tokens.Next(&value)) return std::nullopt;
    if (keyword == "machine") {
      if (value.empty()) return std::nullopt;
      entries.push_back(NetrcEntry{});
      entries.back().machine = value;
    } else if (keyword == "macdef") {
      tokens.SkipMacroBody();
    } else {
      if (entries.empty()) return std::nullopt;
      std::string& field = keyword == "login" ? entries.back().login
                           : keyword == "password" ? entries.back().password
                                                   : entries.back().account;
      field = value;
    }
  }
  if (tokens.failed()) return std::nullopt;
  return entries;
}

std::optional<NetrcEntry> FindNetrcEntry(const std::vector<NetrcEntry>& entries, std::string_view host) {
  for (const NetrcEntry& entry : entries) {
    if (!entry.isDefault && entry.machine.size() == host.size() &&
        strncasecmp(entry.machine.data(), host.data(), host.size()) == 0)
      return entry.login.empty() ? std::nullopt : std::optional<NetrcEntry>(entry);
  }
  return std::nullopt;
}

std::optional<NetrcEntry> UserNetrcEntry(std::string_view host) {
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
    home = env;
  } else {
    struct passwd record;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &record, buffer, sizeof buffer, &result) != 0 || result == nullptr) return std::nullopt;
    home = result->pw_dir;
  }
  const int fd = OpenRegularFile((home + "/.netrc").c_str(), O_RDONLY);
  if (fd < 0) return std::nullopt;
  struct stat info;
  std::string text;
  const bool ok = fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) <= kMaxNetrcBytes &&
                  ReadToEnd(fd, &text, kMaxNetrcBytes);
  close(fd);
  if (!ok) return std::nullopt;
  const auto entries = ParseNetrc(text);
  if (!entries) return std::nullopt;
  return FindNetrcEntry(*entries, host);
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
