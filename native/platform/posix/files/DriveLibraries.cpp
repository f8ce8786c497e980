#include "DriveLibraries.h"

namespace quorvane {
namespace posix {

QV_DYNAMIC_LIBRARY(MountLibrary, "libmount.so.1", QV_MOUNT_FUNCTIONS)
QV_DYNAMIC_LIBRARY(UdevLibrary, "libudev.so.1", QV_UDEV_FUNCTIONS)

}  // namespace posix
}  // namespace quorvane
