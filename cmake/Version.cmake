# The project's version, where each shipped file can be asked for it:
# QV_VERSION in QuorvaneVersion.h (the tools), the library's .comment string
# on Linux (readelf -p .comment libquorvane.so), the DLL's version resource
# (file properties on Windows) and its .qvver section (objdump -s -j .qvver),
# and each jar's Implementation-Version.
set(QV_VERSION ${PROJECT_VERSION})
set(QV_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${QV_GENERATED}/QuorvaneVersion.h CONTENT
"#pragma once\n#define QV_VERSION \"@QV_VERSION@\"\n")

if(WIN32)
  string(REPLACE "." "," qv_version_commas "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  file(CONFIGURE OUTPUT ${QV_GENERATED}/quorvane.rc CONTENT [=[
#include <winver.h>
1 VERSIONINFO
FILEVERSION @qv_version_commas@
PRODUCTVERSION @qv_version_commas@
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_DLL
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "quorvane native library"
      VALUE "FileVersion", "@QV_VERSION@"
      VALUE "InternalName", "quorvane"
      VALUE "OriginalFilename", "quorvane.dll"
      VALUE "ProductName", "quorvane"
      VALUE "ProductVersion", "@QV_VERSION@"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
]=] @ONLY)
  # And in a section of its own, which the Java loader reads without loading the DLL.
  file(CONFIGURE OUTPUT ${QV_GENERATED}/Version.cpp CONTENT
"// The library's version in a section of its own, .qvver.\n__asm__(\".section .qvver,\\\"dr\\\"\\n.ascii \\\"quorvane @QV_VERSION@\\\\0\\\"\\n.text\");\n" @ONLY)
  set(QV_VERSION_SOURCE ${QV_GENERATED}/quorvane.rc ${QV_GENERATED}/Version.cpp)
else()
  file(CONFIGURE OUTPUT ${QV_GENERATED}/Version.cpp CONTENT
"// The library's version in its .comment section, which stripping keeps.\n__asm__(\".ident \\\"quorvane @QV_VERSION@\\\"\");\n" @ONLY)
  set(QV_VERSION_SOURCE ${QV_GENERATED}/Version.cpp)
endif()

# Every jar's manifest names the version (Package.getImplementationVersion()).
file(CONFIGURE OUTPUT ${QV_GENERATED}/MANIFEST.MF CONTENT
"Implementation-Title: quorvane\nImplementation-Version: @QV_VERSION@\n" @ONLY)
