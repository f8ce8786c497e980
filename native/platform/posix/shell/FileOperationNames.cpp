// Name lists, wildcards and collision names of SHFileOperationW.
#include <sys/stat.h>

#include "../text/FileSystemText.h"
#include "FileOperation.h"

namespace quorvane {
namespace posix {
namespace fileop {

bool ReadNameList(LPCWSTR list, bool allowEmpty, std::vector<std::string>* names) {
  names->clear();
  if (list == nullptr) return false;
  size_t start = 0;
  for (size_t i = 0; i < kMaxListUnits; ++i) {
    if (list[i] != 0) {
      if (i - start >= kMaxNameUnits) return false;
      continue;
    }
    if (i == start) return allowEmpty || !names->empty();  // the double zero
    names->push_back(FileSystemTextFromWide(list + start, i - start));
    start = i + 1;
  }
  return false;
}

bool HasWildcard(const std::string& path) {
  return NameOf(path).find_first_of("*?") != std::string::npos;
}

bool MatchesWildcard(const std::string& patternBytes, const std::string& nameBytes) {
  if (patternBytes == "*.*") return true;
  // By character: '?' takes one whole UTF-8 sequence, or one byte that is not UTF-8.
  const std::wstring pattern = WideFromFileSystemText(patternBytes), name = WideFromFileSystemText(nameBytes);
  // Iterative match with one backtrack point for the last '*'.
  size_t p = 0, n = 0, star = std::wstring::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++, mark = n;
    } else if (star != std::wstring::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

std::string TrimSlashes(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

std::string ParentOf(const std::string& path) {
  const std::string trimmed = TrimSlashes(path);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::string trimmed = TrimSlashes(path);
  const size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string CollisionName(const std::string& folder, const std::string& name, bool copyOfItself) {
  // A leading dot is part of the stem: ".profile" has no extension.
  const size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  for (unsigned n = copyOfItself ? 1 : 2;; ++n) {
    std::string candidate;
    if (copyOfItself)
      candidate = n == 1 ? "Copy of " + name : "Copy (" + std::to_string(n) + ") of " + name;
    else
      candidate = stem + " (" + std::to_string(n) + ")" + extension;
    struct stat st;
    if (::lstat(JoinPath(folder, candidate).c_str(), &st) != 0) return candidate;
  }
}

}  // namespace fileop
}  // namespace posix
}  // namespace quorvane
