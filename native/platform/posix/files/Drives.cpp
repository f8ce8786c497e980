// GetDriveTypeW and QueryDosDeviceW: a drive is a mount point of the
// process's mount table (libmount over /proc/self/mountinfo); its kind comes
// from the file system type and, for a block device, from udev's view of the
// disk (libudev: the removable flag, the bus, CD drives).
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "DriveLibraries.h"
#include "FilesApi.h"

namespace {

using quorvane::posix::MountLibrary;
using quorvane::posix::UdevLibrary;

// The table, once ReadMountTable has answered a mount table.
const MountLibrary& Mount() { return *MountLibrary::Get(); }

// File system types served over a network, sorted.
const char* const kRemoteTypes[] = {
    "9p",         "afs",        "ceph",         "cifs",        "davfs",     "fuse.davfs2", "fuse.glusterfs",
    "fuse.rclone", "fuse.s3fs", "fuse.sshfs",   "glusterfs",   "lustre",    "ncpfs",       "nfs",
    "nfs4",       "smb3",       "smbfs",        "sshfs",
};
const char* const kRamTypes[] = {"ramfs", "tmpfs"};
const char* const kOpticalTypes[] = {"iso9660", "udf"};

template <size_t N>
bool Listed(const char* const (&list)[N], const char* type) {
  return type != nullptr &&
         std::any_of(std::begin(list), std::end(list), [&](const char* t) { return std::strcmp(t, type) == 0; });
}

struct TableDeleter {
  void operator()(libmnt_table* table) const { Mount().unref_table(table); }
};
using MountTable = std::unique_ptr<libmnt_table, TableDeleter>;

struct UdevDeleter {
  void operator()(udev* u) const { UdevLibrary::Get()->udev_unref(u); }
  void operator()(udev_device* d) const { UdevLibrary::Get()->udev_device_unref(d); }
};

// Null without libmount too.
MountTable ReadMountTable() {
  if (MountLibrary::Get() == nullptr) return nullptr;
  return MountTable(Mount().new_table_from_file("/proc/self/mountinfo"));
}

// The canonical form of `name` (symbolic links resolved, no trailing '/'),
// or empty when it does not exist.
std::string Canonical(const std::string& name) {
  char* resolved = realpath(name.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string path(resolved);
  free(resolved);
  return path;
}

// The topmost file system mounted exactly at `path` (a canonical path).
libmnt_fs* MountedAt(libmnt_table* table, const std::string& path) {
  libmnt_fs* found = nullptr;
  libmnt_iter* iter = Mount().new_iter(MNT_ITER_FORWARD);
  libmnt_fs* fs = nullptr;
  while (iter != nullptr && Mount().table_next_fs(table, iter, &fs) == 0) {
    const char* target = Mount().fs_get_target(fs);
    if (target != nullptr && path == target) found = fs;
  }
  Mount().free_iter(iter);
  return found;
}

// The block device behind a mount, 0 when there is none.
dev_t BlockDevice(libmnt_fs* fs) {
  const char* source = Mount().fs_get_srcpath(fs);
  struct stat st;
  if (source != nullptr && stat(source, &st) == 0 && S_ISBLK(st.st_mode)) return st.st_rdev;
  const dev_t devno = Mount().fs_get_devno(fs);
  return major(devno) != 0 ? devno : 0;
}

UINT BlockDriveType(dev_t device) {
  if (UdevLibrary::Get() == nullptr) return DRIVE_FIXED;
  const UdevLibrary& libudev = *UdevLibrary::Get();
  std::unique_ptr<udev, UdevDeleter> context(libudev.udev_new());
  if (!context) return DRIVE_FIXED;
  std::unique_ptr<udev_device, UdevDeleter> partition(libudev.udev_device_new_from_devnum(context.get(), 'b', device));
  if (!partition) return DRIVE_FIXED;
  const char* cdrom = libudev.udev_device_get_property_value(partition.get(), "ID_CDROM");
  if (cdrom != nullptr && std::strcmp(cdrom, "1") == 0) return DRIVE_CDROM;
  const char* bus = libudev.udev_device_get_property_value(partition.get(), "ID_BUS");
  if (bus != nullptr && std::strcmp(bus, "usb") == 0) return DRIVE_REMOVABLE;
  // The disk holding the partition carries the removable flag (not owned).
  const char* type = libudev.udev_device_get_devtype(partition.get());
  udev_device* disk = type != nullptr && std::strcmp(type, "disk") == 0
                          ? partition.get()
                          : libudev.udev_device_get_parent_with_subsystem_devtype(partition.get(), "block", "disk");
  const char* removable = disk ? libudev.udev_device_get_sysattr_value(disk, "removable") : nullptr;
  return removable != nullptr && std::strcmp(removable, "1") == 0 ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

UINT DriveTypeOf(libmnt_fs* fs) {
  const char* type = Mount().fs_get_fstype(fs);
  if (Listed(kRamTypes, type)) return DRIVE_RAMDISK;
  if (Listed(kRemoteTypes, type) || Mount().fs_is_netfs(fs)) return DRIVE_REMOTE;
  if (Listed(kOpticalTypes, type)) return DRIVE_CDROM;
  if (const dev_t device = BlockDevice(fs)) return BlockDriveType(device);
  // proc, sysfs, cgroup and the like hold no files of the user's.
  return Mount().fs_is_pseudofs(fs) ? DRIVE_UNKNOWN : DRIVE_FIXED;
}

// Copies `list` (entries each ending in a zero, then the closing zero) to
// the caller; the characters stored, or 0 with ERROR_INSUFFICIENT_BUFFER.
DWORD CopyList(const std::wstring& list, LPWSTR out, DWORD capacity) {
  if (out == nullptr || list.size() > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(list.begin(), list.end(), out);
  return static_cast<DWORD>(list.size());
}

}  // namespace

UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
  std::string path;
  if (lpRootPathName == nullptr) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return DRIVE_NO_ROOT_DIR;
    path = cwd;
    free(cwd);
  } else {
    path = Canonical(quorvane::posix::FileSystemTextFromWide(lpRootPathName));
    if (path.empty()) return DRIVE_NO_ROOT_DIR;
  }
  MountTable table = ReadMountTable();
  if (!table) return DRIVE_UNKNOWN;
  if (lpRootPathName == nullptr) {
    libmnt_fs* holder = Mount().table_find_mountpoint(table.get(), path.c_str(), MNT_ITER_BACKWARD);
    const char* target = holder ? Mount().fs_get_target(holder) : nullptr;
    if (target == nullptr) return DRIVE_NO_ROOT_DIR;
    path = target;
  }
  libmnt_fs* fs = MountedAt(table.get(), path);
  return fs == nullptr ? DRIVE_NO_ROOT_DIR : DriveTypeOf(fs);
}

DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
  MountTable table = ReadMountTable();
  if (!table) {
    SetLastError(MountLibrary::Get() == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  std::wstring list;
  if (lpDeviceName == nullptr) {
    // Sorted, each once: "/" comes first.
    std::set<std::string> targets;
    libmnt_iter* iter = Mount().new_iter(MNT_ITER_FORWARD);
    libmnt_fs* fs = nullptr;
    while (iter != nullptr && Mount().table_next_fs(table.get(), iter, &fs) == 0)
      if (const char* target = Mount().fs_get_target(fs)) targets.insert(target);
    Mount().free_iter(iter);
    for (const std::string& target : targets) {
      list += quorvane::posix::WideFromFileSystemText(target);
      list.push_back(L'\0');
    }
  } else {
    const std::string path = Canonical(quorvane::posix::FileSystemTextFromWide(lpDeviceName));
    libmnt_fs* fs = path.empty() ? nullptr : MountedAt(table.get(), path);
    const char* source = fs ? Mount().fs_get_source(fs) : nullptr;
    if (source == nullptr) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    list = quorvane::posix::WideFromFileSystemText(source);
    list.push_back(L'\0');
  }
  list.push_back(L'\0');
  return CopyList(list, lpTargetPath, ucchMax);
}
