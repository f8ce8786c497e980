# The Java test client (the classes the library fixes of its caller) and the tools.
find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS -encoding UTF-8 -Xlint:all,-path,-processing -Werror)

file(GLOB_RECURSE QV_JAVA_CLIENT_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/java/client/*.java)
add_jar(quorvane_client SOURCES ${QV_JAVA_CLIENT_SOURCES}
        MANIFEST ${QV_GENERATED}/MANIFEST.MF OUTPUT_DIR ${CMAKE_BINARY_DIR}/java OUTPUT_NAME quorvane-client)

file(GLOB_RECURSE QV_JAVA_TOOLS_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/java/tools/*.java)
add_jar(quorvane_tools SOURCES ${QV_JAVA_TOOLS_SOURCES} INCLUDE_JARS quorvane_client
        MANIFEST ${QV_GENERATED}/MANIFEST.MF OUTPUT_DIR ${CMAKE_BINARY_DIR}/java OUTPUT_NAME quorvane-tools)
