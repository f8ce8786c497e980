# The Debian package (cpack -G DEB in the release build):
# quorvane_<version>_<arch>.deb from what cmake --install puts in /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${QV_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "Quorvane developers <developers@quorvane.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "JNI library for document properties and Windows services
quorvane implements the native methods of the Win32Impl class that its Java
desktop client calls: the property sets of OLE compound documents
(.doc, .xls, .ppt) with document tracking, and the operating-system
services the client asks of Windows, provided with the meaning a Linux
desktop user expects. The JVM finds it without a library path.

Also the docprops and quorvane-reg commands.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Depends: the libraries linked (dpkg-shlibdeps) and the JVM the launcher
# runs: all that loading the library and reading documents needs. The
# libraries it opens with dlopen on first use, which dpkg-shlibdeps cannot
# see, are only recommended: without one, the services that need it answer
# as the README's table says. tests/package/install-check.sh reads this list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(QV_DLOPEN_RECOMMENDS
    libcurl4      # libcurl.so.4: WinInet's HTTP requests
    libproxy1v5   # libproxy.so.1: the system's proxy settings
    libglib2.0-0  # libglib-2.0.so.0, libgio-2.0.so.0: shell services
    libmount1     # libmount.so.1: drive types
    libudev1      # libudev.so.1: device names
    libx11-6      # libX11.so.6: windows
    libxss1)      # libXss.so.1: the user's idle time
set(CPACK_DEBIAN_PACKAGE_DEPENDS "default-jre-headless (>= 2:1.17) | java17-runtime-headless")
string(JOIN ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS ${QV_DLOPEN_RECOMMENDS})

# The machine registry store's folder: made with its mode by postinst,
# removed by a purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QV_ROOT}/cmake/debian/postinst ${QV_ROOT}/cmake/debian/postrm)

# Dated by the build's time, with folders 0755 whatever the umask
# (tests/package/check-reproducible.sh).
set(CPACK_QV_SOURCE_DATE_EPOCH ${QV_SOURCE_DATE_EPOCH})
set(CPACK_PRE_BUILD_SCRIPTS ${QV_ROOT}/cmake/debian/prebuild.cmake)

include(CPack)
