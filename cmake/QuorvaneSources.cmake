# Source lists, one per layer. Files are picked up by folder so that a new
# unit needs no edit here; each layer keeps to its own folder.
set(QV_ROOT ${CMAKE_SOURCE_DIR})

# native/common: no JNI; reaches the OS through native/platform only.
file(GLOB_RECURSE QV_COMMON_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/native/common/*.cpp)

# native/platform/posix: our implementation of the Windows API subset (Linux only).
file(GLOB_RECURSE QV_POSIX_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/native/platform/posix/*.cpp)

# native/jni: the boundary's support code (holders, exceptions, bridges) ...
file(GLOB QV_JNI_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/native/jni/*.cpp)
# ... and the exported native methods with the load-time initialisation.
file(GLOB QV_NATIVES_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/native/jni/natives/*.cpp)
# Windows-only glue (entry point).
file(GLOB QV_JNI_WIN32_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/native/jni/win32/*.cpp)

set(QV_INCLUDE_DIRS ${QV_ROOT}/native/platform ${QV_ROOT}/native/common ${QV_ROOT}/native/jni)

# Exported native methods with their stdcall argument byte counts.
set(QV_EXPORTS_TABLE ${QV_ROOT}/native/jni/exports.txt)
# ... and those of the docprops tool's own class.
set(QV_TOOL_EXPORTS_TABLE ${QV_ROOT}/native/jni/tool-exports.txt)
