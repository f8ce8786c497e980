// The change watch behind a folder handle (ReadDirectoryChangesW), on inotify.
//
// What is reported: names relative to the watched folder ('/' between
// levels) with FILE_ACTION_ADDED, REMOVED, MODIFIED, and a rename inside the
// watched tree as a RENAMED_OLD_NAME / RENAMED_NEW_NAME pair: halves pair
// only by inotify's cookie; a name moved out of the tree is REMOVED, one
// moved in is ADDED. A file's first half read alone waits up to
// kMovePartnerMs for its second; a folder's is REMOVED as soon as the
// folder's own watch says it moved with no second half before (it left the
// tree), and its later changes are not reported. Other threads' changes
// queued between the halves go ahead of the pair. The notify filter picks
// the kinds: FILE_NAME and DIR_NAME the names of files and folders, SIZE and
// LAST_WRITE writes (IN_MODIFY), ATTRIBUTES, SECURITY, CREATION and
// LAST_WRITE changes of mode, owner, times or extended attributes
// (IN_ATTRIB), LAST_ACCESS reads of files (IN_ACCESS). Repeated MODIFIED records of
// one name in a row are kept once.
//
// Subtree: every folder of the tree has its own inotify watch, and a folder
// created while watching gets one as soon as its creation is read; it is
// then listed, and what was made in it before its watch existed is reported
// as ADDED (what the watch reports again later is dropped once, unless the
// name went away in between or came by a rename). A folder moved in is
// listed the same way (what it brought is ADDED too: Windows reports only
// its name), and a folder renamed inside the tree has what is below it
// that no watch follows yet watched and listed.
//
// Between calls changes wait in inotify's queue and in our own; a call takes
// from inotify only what its buffer can hold, so a reader that keeps calling
// with a buffer of any size loses nothing. The answer "TRUE with 0 bytes"
// (Windows' "too many changes, rescan the folder") is given, and what was
// pending dropped, when inotify's queue overflowed, our own queue passed
// kMaxPendingBytes, a folder of the tree could not be watched (the user's
// watch limit), or the buffer cannot hold even the first pending record.
// After a rescan answer for any cause but the buffer, the tree's watches are
// made again from the tree as it is (inotify did not, or could not, say all),
// what inotify still holds dropped; a folder the watch limit still leaves
// out then brings no second answer at once (the caller would only spin).
// Where Windows answers 0 for a buffer that holds some but not all pending
// records, we hand out the records that fit and keep the rest.
//
// Ends: Abort (CloseHandle from another thread) ends a blocked or later call
// with ERROR_OPERATION_ABORTED; once the watched folder is removed (or its
// file system unmounted) the pending changes are handed out and later calls
// fail with ERROR_ACCESS_DENIED, as Windows answers for a deleted folder.
// inotify says nothing of a removed folder that a descriptor still holds
// open (ours does), so a blocked call looks at its link count every
// kRemovalCheckMs.
//
// Thread-safe: calls are taken one at a time; Abort may come from any thread
// and never blocks. No thread of ours: inotify keeps what arrives between calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "../base/WinTypes.h"
#include "../kernel/UniqueFd.h"
#include "ChangeRecords.h"

struct inotify_event;

namespace quorvane {
namespace posix {
namespace files {

class DirectoryWatch {
 public:
  static constexpr size_t kMaxPendingBytes = 1u << 20;
  static constexpr int kRemovalCheckMs = 500;
  static constexpr int kMovePartnerMs = 50;
  static constexpr int kMaxPassedEvents = 64;

  // Watches the folder open on `folderFd` (not owned; it outlives the
  // watch). Null with a Windows error code on failure.
  static std::shared_ptr<DirectoryWatch> Start(int folderFd, DWORD filter, bool subtree, DWORD* error);
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  // Blocks until a change is pending, then writes the records that fit into
  // `buffer`. 0 (with *written, possibly 0) or a Windows error code.
  DWORD Read(uint8_t* buffer, DWORD length, DWORD* written);
  void Abort();

 private:
  struct MoveFrom {
    bool held = false;
    uint32_t cookie = 0;
    int wd = -1;
    std::string leaf;  // the name in its folder
    std::string name;
    bool isFolder = false;
    int passed = 0;  // events let go ahead of it
    int selfWd = -1;  // a folder's own watch
    bool seenInside = false;  // found in the tree by a listing since
  };
  enum class Report { kNone, kNew, kAll };

  DirectoryWatch(UniqueFd inotify, UniqueFd abort, int folderFd, DWORD filter, bool subtree);
  bool NameWanted(bool isFolder) const;
  void Push(uint32_t action, const std::string& relative);
  void WatchTree(const std::string& relative, Report report);
  // By value: callers pass the very labels these change or erase.
  void MoveLabels(std::string from, const std::string& to);
  void ForgetTree(std::string relative);
  void MoveTree(const std::string& from, const std::string& to);
  void Handle(const inotify_event& event);
  void Added(int wd, const std::string& name, const std::string& relative, bool isFolder, bool movedIn);
  void FlushMoveFrom();
  void Drain(size_t wanted);
  bool WaitForMovePartner();
  void Rebuild();
  bool WaitForEvents();
  bool FolderRemoved() const;

  const UniqueFd inotify_;
  const UniqueFd abort_;
  const int folderFd_;
  const std::string base_;
  const DWORD filter_;
  const bool subtree_;
  const uint32_t mask_;
  std::atomic<bool> aborted_{false};

  std::mutex mutex_;  // everything below
  int rootWd_ = -1;
  std::unordered_map<int, std::string> folders_;  // watch -> folder relative to the root
  std::deque<Change> pending_;
  size_t pendingBytes_ = 0;
  bool overflow_ = false;
  bool gone_ = false;
  MoveFrom moveFrom_;
  // Names a new folder's listing reported, dropped when its watch reports them too.
  std::set<std::pair<int, std::string>> listed_;
};

}  // namespace files
}  // namespace posix
}  // namespace quorvane
