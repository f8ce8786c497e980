#include "DirectoryWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "../base/ErrnoMapping.h"
#include "FilesApi.h"

namespace quorvane {
namespace posix {
namespace files {
namespace {

constexpr DWORD kValidFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                               FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                               FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
constexpr int kMaxDroppedReads = 4096;
constexpr DWORD kWriteFilter = FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kAttributeFilter = FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY |
                                   FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_LAST_WRITE;

// Names and folders are always followed, whatever the filter: the tree's
// watches move with its folders.
uint32_t InotifyMask(DWORD filter) {
  // IN_MOVE_SELF comes after a rename's second half, or alone when the
  // folder left the tree: then nothing is left to wait for.
  uint32_t mask =
      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (filter & kWriteFilter) mask |= IN_MODIFY;
  if (filter & kAttributeFilter) mask |= IN_ATTRIB;
  if (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS) mask |= IN_ACCESS;
  return mask;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

// Opens `relative` (not empty) below the folder open on `top` one name at a
// time, following no symbolic link: a name swapped for a link after its
// event was queued must not take a watch or a listing out of the tree.
// Invalid with errno when it is not a folder there now.
UniqueFd OpenBelow(int top, const std::string& relative) {
  UniqueFd folder;
  int at = top;
  for (size_t begin = 0; begin <= relative.size();) {
    size_t end = relative.find('/', begin);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(begin, end - begin);
    int fd;
    while ((fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    const int error = errno;
    folder.Reset(fd);
    if (fd < 0) {
      errno = error == ELOOP ? ENOTDIR : error;  // a link: not a folder
      return folder;
    }
    at = fd;
    begin = end + 1;
  }
  return folder;
}

// Reads one chunk of events and hands each to `each`; read(2)'s result.
ssize_t ReadEvents(int inotify, const std::function<void(const inotify_event&)>& each) {
  alignas(inotify_event) char chunk[4096];
  ssize_t n;
  while ((n = read(inotify, chunk, sizeof(chunk))) < 0 && errno == EINTR) {
  }
  for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
    const auto* event = reinterpret_cast<const inotify_event*>(chunk + at);
    each(*event);
    at += sizeof(inotify_event) + event->len;
  }
  return n;
}

DWORD WatchError(int error) {
  // ENOSPC is the user's watch limit, not a full disk.
  return error == ENOSPC ? ERROR_NOT_ENOUGH_MEMORY : Win32ErrorFromErrno(error);
}

}  // namespace

std::shared_ptr<DirectoryWatch> DirectoryWatch::Start(int folderFd, DWORD filter, bool subtree, DWORD* error) {
  if (filter == 0 || (filter & ~kValidFilter) != 0) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  UniqueFd inotify(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  UniqueFd abort(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!inotify.Valid() || !abort.Valid()) {
    *error = WatchError(errno);
    return nullptr;
  }
  std::shared_ptr<DirectoryWatch> watch(
      new DirectoryWatch(std::move(inotify), std::move(abort), folderFd, filter, subtree));
  std::lock_guard<std::mutex> lock(watch->mutex_);
  const int rootWd = inotify_add_watch(watch->inotify_.Get(), watch->base_.c_str(), watch->mask_);
  if (rootWd < 0) {
    *error = WatchError(errno);
    return nullptr;
  }
  watch->rootWd_ = rootWd;
  watch->folders_[rootWd] = std::string();
  if (subtree) {
    // The folders already there: watched, not reported. One that cannot be
    // watched makes the first answer the rescan one.
    watch->WatchTree(std::string(), Report::kNone);
  }
  *error = ERROR_SUCCESS;
  return watch;
}

DirectoryWatch::DirectoryWatch(UniqueFd inotify, UniqueFd abort, int folderFd, DWORD filter, bool subtree)
    : inotify_(std::move(inotify)),
      abort_(std::move(abort)),
      folderFd_(folderFd),
      // The folder as the handle holds it, wherever it has moved since.
      base_(DescriptorPath(folderFd)),
      filter_(filter),
      subtree_(subtree),
      mask_(InotifyMask(filter)) {}

bool DirectoryWatch::NameWanted(bool isFolder) const {
  return (filter_ & (isFolder ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME)) != 0;
}

void DirectoryWatch::Push(uint32_t action, const std::string& relative) {
  Change change{action, Utf16FromFileSystemText(relative)};
  if (action == FILE_ACTION_MODIFIED && !pending_.empty() && pending_.back().action == action &&
      pending_.back().name == change.name)
    return;
  pendingBytes_ += RecordSize(change);
  pending_.push_back(std::move(change));
  if (pendingBytes_ > kMaxPendingBytes) overflow_ = true;
}

// Watches `relative` (already watched when empty: the root) and, for a
// subtree, every folder below it. What the listings find is reported as
// ADDED: with kAll everything, with kNew only what is in folders that had no
// watch yet (made, or moved in, before our watch could follow them).
void DirectoryWatch::WatchTree(const std::string& relative, Report report) {
  std::vector<std::string> folders{relative};
  while (!folders.empty()) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    int wd = rootWd_;
    bool known = true;
    UniqueFd opened;
    if (!folder.empty()) {
      // Watched and listed through the folder we opened, never by its name again.
      opened = OpenBelow(folderFd_, folder);
      wd = opened.Valid()
               ? inotify_add_watch(inotify_.Get(), DescriptorPath(opened.Get()).c_str(), mask_)
               : -1;
      if (wd < 0) {
        // Gone already (its removal is reported by its parent), or the
        // watch limit: the tree cannot be followed, the caller must rescan.
        if (errno != ENOENT && errno != ENOTDIR) overflow_ = true;
        continue;
      }
      if (wd == rootWd_) continue;  // the root again, through a bind mount: already followed
      if (moveFrom_.held && wd == moveFrom_.selfWd) moveFrom_.seenInside = true;
      const auto it = folders_.find(wd);
      known = it != folders_.end();
      // A folder already watched, found under another name: its rename is
      // still queued, and what it holds is known under the name it has now.
      if (known && it->second != folder) MoveLabels(it->second, folder);
      folders_[wd] = folder;
    }
    if (!subtree_) continue;
    const bool reportHere = report == Report::kAll || (report == Report::kNew && !known);
    int listFd;
    while ((listFd = openat(opened.Valid() ? opened.Get() : folderFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    DIR* dir = listFd < 0 ? nullptr : fdopendir(listFd);
    if (dir == nullptr) {
      if (listFd >= 0) close(listFd);
      continue;
    }
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      bool isFolder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat st;
        isFolder = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
      }
      if (reportHere) {
        if (NameWanted(isFolder)) Push(FILE_ACTION_ADDED, Join(folder, name));
        listed_.emplace(wd, name);
      }
      if (isFolder) folders.push_back(Join(folder, name));
    }
    closedir(dir);
  }
}

void DirectoryWatch::ForgetTree(std::string relative) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->first != rootWd_ && StartsWithFolder(it->second, relative)) {
      inotify_rm_watch(inotify_.Get(), it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

void DirectoryWatch::MoveLabels(std::string from, const std::string& to) {
  for (auto& folder : folders_) {
    if (folder.first == rootWd_ || !StartsWithFolder(folder.second, from)) continue;
    folder.second = to + folder.second.substr(from.size());
  }
}

// A folder renamed inside the tree keeps its watches under the new name; a
// folder below it whose creation was read only after the rename could not
// be watched then, and is watched and listed now.
void DirectoryWatch::MoveTree(const std::string& from, const std::string& to) {
  MoveLabels(from, to);
  WatchTree(to, Report::kNew);
}

void DirectoryWatch::Added(int wd, const std::string& name, const std::string& relative, bool isFolder,
                           bool movedIn) {
  // Its folder's listing reported it; not so a name renamed in, which may
  // have replaced the listed one (inotify reports no deletion for that).
  if (listed_.erase(std::make_pair(wd, name)) > 0 && !movedIn) return;
  if (NameWanted(isFolder)) Push(FILE_ACTION_ADDED, relative);
  // A folder moved in is listed like a new one: what is made in it before
  // its watch exists would be lost otherwise. Windows reports only the
  // folder's name for what it brought; we report that as ADDED too.
  if (isFolder && subtree_) WatchTree(relative, Report::kAll);
}

void DirectoryWatch::FlushMoveFrom() {
  if (!moveFrom_.held) return;
  moveFrom_.held = false;
  if (NameWanted(moveFrom_.isFolder)) Push(FILE_ACTION_REMOVED, moveFrom_.name);
  if (!moveFrom_.isFolder) return;
  // Its watches go by the name they have now: a rename of a folder above it
  // may have renamed them since, unless a listing found it in the tree.
  const auto self = folders_.find(moveFrom_.selfWd);
  if (self == folders_.end()) ForgetTree(moveFrom_.name);
  else if (!moveFrom_.seenInside) ForgetTree(self->second);
}

void DirectoryWatch::Handle(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) {
    overflow_ = true;
    return;
  }
  const auto folder = folders_.find(event.wd);
  if (folder == folders_.end()) return;  // a watch we already let go
  if (event.mask & IN_IGNORED) {
    if (event.wd == rootWd_) gone_ = true;
    folders_.erase(folder);
    return;
  }
  if (event.mask & (IN_DELETE_SELF | IN_UNMOUNT)) {
    if (event.wd == rootWd_) gone_ = true;
    return;
  }
  if (event.mask & IN_MOVE_SELF) {
    // The held first half's folder moved, and no second half came before:
    // it left the tree. Reported now; its later changes are not ours.
    if (moveFrom_.held && moveFrom_.isFolder && moveFrom_.selfWd == event.wd) FlushMoveFrom();
    return;
  }
  if (event.len == 0) return;  // the folder itself: its parent's watch reports it
  const std::string name(event.name, strnlen(event.name, event.len));
  const std::string relative = Join(folder->second, name);
  const bool isFolder = (event.mask & IN_ISDIR) != 0;
  // A listed name that goes away and comes back is new: reported again.
  if (event.mask & (IN_DELETE | IN_MOVED_FROM)) listed_.erase(std::make_pair(event.wd, name));
  if (moveFrom_.held && !((event.mask & IN_MOVED_TO) && event.cookie == moveFrom_.cookie)) {
    // Another thread's change can be queued between a rename's halves: it
    // goes ahead, unless it is another first half, is about the held name,
    // or too many went ahead for the halves to be one rename.
    if ((event.mask & IN_MOVED_FROM) || (event.wd == moveFrom_.wd && name == moveFrom_.leaf) ||
        ++moveFrom_.passed > kMaxPassedEvents)
      FlushMoveFrom();
  }

  if (event.mask & IN_MOVED_FROM) {
    moveFrom_ = MoveFrom{true, event.cookie, event.wd, name, relative, isFolder, 0, -1, false};
    if (isFolder) {
      for (const auto& watched : folders_)
        if (watched.first != rootWd_ && watched.second == relative) moveFrom_.selfWd = watched.first;
    }
  } else if (event.mask & IN_MOVED_TO) {
    // Only the same cookie makes the halves one rename: a name moved out
    // and another moved in are REMOVED and ADDED.
    if (moveFrom_.held && moveFrom_.cookie == event.cookie) {
      moveFrom_.held = false;
      if (NameWanted(isFolder)) {
        Push(FILE_ACTION_RENAMED_OLD_NAME, moveFrom_.name);
        Push(FILE_ACTION_RENAMED_NEW_NAME, relative);
      }
      if (isFolder && subtree_) MoveTree(moveFrom_.name, relative);
    } else {
      Added(event.wd, name, relative, isFolder, true);
    }
  } else if (event.mask & IN_CREATE) {
    Added(event.wd, name, relative, isFolder, false);
  } else if (event.mask & IN_DELETE) {
    if (NameWanted(isFolder)) Push(FILE_ACTION_REMOVED, relative);
  } else if (event.mask & (IN_MODIFY | IN_ATTRIB)) {
    Push(FILE_ACTION_MODIFIED, relative);
  } else if ((event.mask & IN_ACCESS) && !isFolder) {
    // A folder is read by our own listings of new folders: not reported.
    Push(FILE_ACTION_MODIFIED, relative);
  }
}

// Moves events from inotify into pending_ until `wanted` bytes of records
// are pending or inotify has no more.
void DirectoryWatch::Drain(size_t wanted) {
  while (pendingBytes_ < wanted && !overflow_) {
    const ssize_t n = ReadEvents(inotify_.Get(), [this](const inotify_event& event) { Handle(event); });
    if (n > 0) continue;
    if (n < 0 && errno == EAGAIN) {
      // The kernel queues a rename's halves one after the other, so a read
      // can come between them: a lone first half waits for its partner, in
      // the next call when records are ready to go now.
      if (moveFrom_.held && !pending_.empty()) return;
      if (moveFrom_.held && WaitForMovePartner()) continue;
      // Everything the listings raced with has come through by now.
      FlushMoveFrom();
      listed_.clear();
    }
    return;
  }
}

bool DirectoryWatch::WaitForMovePartner() {
  pollfd fds[2] = {{inotify_.Get(), POLLIN, 0}, {abort_.Get(), POLLIN, 0}};
  int ready;
  while ((ready = poll(fds, 2, kMovePartnerMs)) < 0 && errno == EINTR) {
  }
  return ready > 0 && (fds[0].revents & POLLIN) && !aborted_.load();
}

// After an overflow inotify has not said everything: what it still holds is
// dropped (the caller's rescan covers it) and the watches are made again
// from the tree as it is, before the caller rescans. A writer faster than
// we read could keep the queue full: at most kMaxDroppedReads reads, what
// remains is taken as usual.
void DirectoryWatch::Rebuild() {
  const auto rootGone = [this](const inotify_event& event) {
    if (event.wd == rootWd_ && (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT))) gone_ = true;
  };
  for (int reads = 0; reads < kMaxDroppedReads && ReadEvents(inotify_.Get(), rootGone) > 0; ++reads) {
  }
  moveFrom_ = MoveFrom();
  listed_.clear();
  std::unordered_map<int, std::string> before;
  before.swap(folders_);
  folders_[rootWd_] = std::string();
  WatchTree(std::string(), Report::kNone);  // a folder already watched keeps its watch, under its path now
  for (const auto& folder : before)
    if (folders_.count(folder.first) == 0) inotify_rm_watch(inotify_.Get(), folder.first);
  // A folder the watch limit left out is covered by this rescan; answering
  // rescan again at once would only have the caller spin.
  overflow_ = false;
}

// False when the handle was closed while waiting.
bool DirectoryWatch::WaitForEvents() {
  pollfd fds[2] = {{inotify_.Get(), POLLIN, 0}, {abort_.Get(), POLLIN, 0}};
  while (poll(fds, 2, kRemovalCheckMs) < 0 && errno == EINTR) {
  }
  return !aborted_.load();
}

bool DirectoryWatch::FolderRemoved() const {
  struct stat st;
  return fstat(folderFd_, &st) == 0 && st.st_nlink == 0;
}

DWORD DirectoryWatch::Read(uint8_t* buffer, DWORD length, DWORD* written) {
  *written = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  for (;;) {
    if (aborted_.load()) return ERROR_OPERATION_ABORTED;
    Drain(length == 0 ? 1 : length);
    if (overflow_) break;
    if (!pending_.empty()) break;
    if (gone_ || FolderRemoved()) {
      gone_ = true;
      return ERROR_ACCESS_DENIED;
    }
    if (!WaitForEvents()) return ERROR_OPERATION_ABORTED;
  }
  size_t taken = 0;
  if (!overflow_) *written = static_cast<DWORD>(WriteRecords(pending_, buffer, length, &taken));
  if (taken == 0) {
    // The rescan answer: what was pending is covered by the caller's rescan.
    pending_.clear();
    pendingBytes_ = 0;
    if (overflow_) Rebuild();
    return ERROR_SUCCESS;
  }
  for (size_t i = 0; i < taken; ++i) {
    pendingBytes_ -= RecordSize(pending_.front());
    pending_.pop_front();
  }
  return ERROR_SUCCESS;
}

void DirectoryWatch::Abort() {
  aborted_.store(true);
  const uint64_t one = 1;
  while (write(abort_.Get(), &one, sizeof(one)) < 0 && errno == EINTR) {
  }
}

}  // namespace files
}  // namespace posix
}  // namespace quorvane
