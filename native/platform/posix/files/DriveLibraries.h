// libmount and libudev, opened on first use: only GetDriveTypeW and
// QueryDosDeviceW need them. Without libmount no mount point is known
// (DRIVE_UNKNOWN; QueryDosDeviceW fails with ERROR_MOD_NOT_FOUND); without
// libudev a block device's kind is not known and it counts as fixed.
#pragma once

#include <libmount.h>
#include <libudev.h>

#include "../loader/DynamicSymbols.h"

#define QV_MOUNT_FUNCTIONS(X)                                                                                  \
  X(mnt_, new_table_from_file) X(mnt_, unref_table) X(mnt_, table_next_fs) X(mnt_, table_find_mountpoint)      \
  X(mnt_, new_iter) X(mnt_, free_iter) X(mnt_, fs_get_target) X(mnt_, fs_get_source) X(mnt_, fs_get_srcpath)   \
  X(mnt_, fs_get_fstype) X(mnt_, fs_get_devno) X(mnt_, fs_is_netfs) X(mnt_, fs_is_pseudofs)

// Full names here: udev_new would leave a member called "new".
#define QV_UDEV_FUNCTIONS(X)                                                                                   \
  X(, udev_new) X(, udev_unref) X(, udev_device_new_from_devnum) X(, udev_device_unref)                        \
  X(, udev_device_get_devtype) X(, udev_device_get_property_value) X(, udev_device_get_sysattr_value)          \
  X(, udev_device_get_parent_with_subsystem_devtype)

namespace quorvane {
namespace posix {

// Get() is null when libmount.so.1 (libudev.so.1), or one of its functions, is missing.
QV_DYNAMIC_TABLE(MountLibrary, QV_MOUNT_FUNCTIONS);
QV_DYNAMIC_TABLE(UdevLibrary, QV_UDEV_FUNCTIONS);

}  // namespace posix
}  // namespace quorvane
