# Linux x86_64: libquorvane.so over our own platform layer, plus every test.
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)
set(QV_JDK_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "JDK whose jni.h the library builds against")
if(NOT EXISTS ${QV_JDK_HOME}/include/jni.h)
  message(FATAL_ERROR "No jni.h under QV_JDK_HOME=${QV_JDK_HOME}")
endif()
set(JNI_INCLUDE_DIRS ${QV_JDK_HOME}/include ${QV_JDK_HOME}/include/linux)

set(QV_WARNINGS -Wall -Wextra -Wno-unused-parameter)
# Libraries the platform layer links against; subsystems append to it.
set(QV_LINUX_LIBS Threads::Threads ${CMAKE_DL_LIBS} rt)
# Identifiers and the tripwire digest: OpenSSL libcrypto.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
list(APPEND QV_LINUX_LIBS OpenSSL::Crypto)
# Registered window messages: the per-user table is an SQLite database.
# (Xlib and XScreenSaver are opened with dlopen on first use: only their
# headers are needed here, and a machine without them still loads us.)
find_package(SQLite3 REQUIRED)
find_path(QV_X11_INCLUDE_DIR X11/extensions/scrnsaver.h REQUIRED)
list(APPEND QV_LINUX_LIBS SQLite::SQLite3)
# Libraries that only some calls need are opened with dlopen by the first
# call that needs them (native/platform/posix/loader/DynamicSymbols.h), so loading
# the library stays cheap: only their headers are needed here, and they are
# never linked (the linker's -z defs catches a call that bypasses a table).
#   shell services, notification icons, Secret Service: GLib/GIO (libgio-2.0.so.0)
#   drive types and device names: libmount.so.1, libudev.so.1
#   WinInet's HTTP requests: libcurl.so.4, the system's proxy settings from libproxy.so.1
find_package(PkgConfig REQUIRED)
pkg_check_modules(QV_GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
pkg_check_modules(QV_DRIVES REQUIRED mount libudev)
pkg_check_modules(QV_INET REQUIRED libcurl libproxy-1.0)

function(qv_objects name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${QV_INCLUDE_DIRS} ${JNI_INCLUDE_DIRS})
  target_include_directories(${name} SYSTEM PUBLIC ${Boost_INCLUDE_DIRS} ${QV_GIO_INCLUDE_DIRS} ${QV_DRIVES_INCLUDE_DIRS} ${QV_INET_INCLUDE_DIRS})
  target_compile_options(${name} PRIVATE ${QV_WARNINGS})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  qv_harden_objects(${name})
endfunction()

qv_objects(qv_base ${QV_COMMON_SOURCES} ${QV_POSIX_SOURCES})
qv_objects(qv_jnisupport ${QV_JNI_SOURCES})
qv_objects(qv_natives ${QV_NATIVES_SOURCES})

add_library(quorvane SHARED
  $<TARGET_OBJECTS:qv_base> $<TARGET_OBJECTS:qv_jnisupport> $<TARGET_OBJECTS:qv_natives> ${QV_VERSION_SOURCE})
target_link_libraries(quorvane PRIVATE ${QV_LINUX_LIBS})
target_link_options(quorvane PRIVATE -Wl,--no-undefined -Wl,-z,defs
                    -Wl,--version-script=${QV_ROOT}/native/jni/libquorvane.map)
set_property(TARGET quorvane APPEND PROPERTY LINK_DEPENDS ${QV_ROOT}/native/jni/libquorvane.map)
set_target_properties(quorvane PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
qv_harden_binary(quorvane)

include(JavaBuild)
include(RegTool)
include(Install)
include(Packaging)

if(QV_TESTS)
  enable_testing()
  include(Tests)
endif()
if(QV_BENCH)
  include(Bench OPTIONAL)
endif()
include(WindowsBundle)
