// The shared page of a named kernel object (events, mutexes): one
// page-sized file per name in the per-user namespace (ObjectNamespace.h),
// mapped shared by every handle to that name.
//
// Each handle holds a shared flock on the file. An opener that can take the
// file exclusively knows nobody holds the name: whatever the file holds was
// left by processes that are gone, so it fills the page afresh. Otherwise it
// checks that the page is one of its kind for the same full name (hashed
// file names can collide). Every kind shares the file names, so a name held
// by an event is refused to a mutex and the other way round, as in Windows'
// one namespace for both. The last handle anywhere removes the file. All of
// this runs under the namespace lock, so nobody is ever between opening the
// file and taking their hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "../base/WinTypes.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {

constexpr size_t kSharedPageSize = 4096;

enum class SharedPageOpen { CreateOrOpen, OpenExisting };

enum class SharedPageFailure {
  kNone,
  kBadName,      // empty, or longer than the page keeps
  kNoNamespace,  // no private directory for the user
  kSystem,       // a system call failed (errno in SharedPageResult::error)
  kNotFound,     // OpenExisting, and no handle holds the name
  kUnusable,     // the name is held by another kind of object (or a foreign file)
};

// What one kind of object keeps in its page.
struct SharedPageKind {
  size_t maxNameBytes;  // the longest name the page keeps
  // Fills a zeroed page for `name`; false, with errno set, when it cannot.
  std::function<bool(void* page, const std::string& name)> initialise;
  // Whether an existing page is this kind's page for `name`.
  std::function<bool(const void* page, const std::string& name)> recognise;
  // Optional: runs on a page this call made, once it is held and before
  // anyone else can reach the name.
  std::function<void(void* page)> created;
};

// One handle's mapping of the page and hold on the name; released (and the
// file removed when this was the last hold anywhere) on destruction. Owned
// by one handle's storage; not thread-safe itself, the page's users
// synchronise what is in it.
class SharedPage {
 public:
  SharedPage() = default;
  SharedPage(SharedPage&& other) noexcept;
  SharedPage& operator=(SharedPage&& other) noexcept;
  SharedPage(const SharedPage&) = delete;
  SharedPage& operator=(const SharedPage&) = delete;
  ~SharedPage();

  void* Get() const { return page_; }

 private:
  friend struct SharedPageOpener;
  void Release() noexcept;
  bool IsStillTheNamedFile() const;

  std::string directory_;
  std::string path_;
  UniqueFd fd_;
  void* page_ = nullptr;
};

struct SharedPageResult {
  SharedPage page;  // Get() is null on failure
  bool created = false;
  SharedPageFailure failure = SharedPageFailure::kNone;
  int error = 0;  // errno, for kSystem
};

// Opens the page of object `utf8Name` (as ObjectNameOf gives it); with
// CreateOrOpen, makes it when no handle holds the name.
SharedPageResult OpenSharedPage(const std::string& utf8Name, SharedPageOpen mode, const SharedPageKind& kind);

// The error Windows gives for a failed open: ERROR_INVALID_HANDLE for a name
// held by another kind of object, ERROR_FILE_NOT_FOUND for no object, ...
DWORD SharedPageError(const SharedPageResult& result);

// Pages that start with `magic` and `layout` words and keep the full name
// in `nameBytes` and `name[]`.
template <class Page>
void WritePageName(Page* page, const std::string& name) {
  page->nameBytes = static_cast<uint32_t>(name.size());
  std::memcpy(page->name, name.data(), name.size());
}

template <class Page>
bool PageMatches(const Page& page, uint32_t magic, uint32_t layout, const std::string& name) {
  return page.magic == magic && page.layout == layout && page.nameBytes == name.size() &&
         std::memcmp(page.name, name.data(), name.size()) == 0;
}

}  // namespace posix
}  // namespace quorvane
