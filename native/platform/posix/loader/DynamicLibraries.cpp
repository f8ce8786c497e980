// The libraries opened on first use, each by its runtime soname (the one its
// Debian package ships; a package that depends on ours must name these).
#include "GioLibrary.h"
#include "../files/DriveLibraries.h"
#include "../inet/InetLibraries.h"
#include "../window/X11Library.h"

namespace quorvane {
namespace posix {

QV_DYNAMIC_LIBRARY(GioLibrary, "libgio-2.0.so.0", QV_GIO_FUNCTIONS)       // libglib2.0-0
QV_DYNAMIC_LIBRARY(MountLibrary, "libmount.so.1", QV_MOUNT_FUNCTIONS)     // libmount1
QV_DYNAMIC_LIBRARY(UdevLibrary, "libudev.so.1", QV_UDEV_FUNCTIONS)        // libudev1
// libX11 stays loaded: it may be shared with the JVM's AWT.
QV_DYNAMIC_LIBRARY(X11Library, "libX11.so.6", QV_X11_FUNCTIONS)          // libx11-6
QV_DYNAMIC_LIBRARY(XssLibrary, "libXss.so.1", QV_XSS_FUNCTIONS)           // libxss1

namespace inet {

QV_DYNAMIC_LIBRARY(CurlLibrary, "libcurl.so.4", QV_CURL_FUNCTIONS)        // libcurl4
QV_DYNAMIC_LIBRARY(ProxyLibrary, "libproxy.so.1", QV_PROXY_FUNCTIONS)     // libproxy1v5

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
