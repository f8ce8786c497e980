# The Java test client (the classes the library fixes of its caller) and the tools.
find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
include(UseJava)
# Every jar's entries are dated QV_ARCHIVE_DATE (cmake/Reproducible.cmake),
# not by its files' times; add_jar runs Java_JAR_EXECUTABLE.
set(QV_JAR_TOOL ${Java_JAR_EXECUTABLE})
set(Java_JAR_EXECUTABLE bash ${QV_ROOT}/cmake/jar-dated.sh ${QV_JAR_TOOL} ${QV_ARCHIVE_DATE})
# A Makefile does not rerun a rule whose command changed: jars dated by an
# earlier configure are removed, so that they are made again.
if(DEFINED CACHE{QV_JARS_DATED} AND NOT QV_JARS_DATED STREQUAL QV_ARCHIVE_DATE)
  file(GLOB_RECURSE qv_stale_jars ${CMAKE_BINARY_DIR}/java/*.jar)
  if(qv_stale_jars)
    file(REMOVE ${qv_stale_jars})
  endif()
endif()
set(QV_JARS_DATED ${QV_ARCHIVE_DATE} CACHE INTERNAL "The date of the jars in java/")
set(CMAKE_JAVA_COMPILE_FLAGS -encoding UTF-8 -Xlint:all,-path,-processing -Werror)

file(GLOB_RECURSE QV_JAVA_CLIENT_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/java/client/*.java)
add_jar(quorvane_client SOURCES ${QV_JAVA_CLIENT_SOURCES}
        MANIFEST ${QV_GENERATED}/MANIFEST.MF OUTPUT_DIR ${CMAKE_BINARY_DIR}/java OUTPUT_NAME quorvane-client)

# The tools run for well under a second: string concatenation compiled
# inline, not bootstrapped through invokedynamic on first use at run time.
file(GLOB_RECURSE QV_JAVA_TOOLS_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/java/tools/*.java)
set(qv_java_flags ${CMAKE_JAVA_COMPILE_FLAGS})
list(APPEND CMAKE_JAVA_COMPILE_FLAGS -XDstringConcat=inline)
add_jar(quorvane_tools SOURCES ${QV_JAVA_TOOLS_SOURCES} INCLUDE_JARS quorvane_client
        MANIFEST ${QV_GENERATED}/MANIFEST.MF OUTPUT_DIR ${CMAKE_BINARY_DIR}/java OUTPUT_NAME quorvane-tools)
set(CMAKE_JAVA_COMPILE_FLAGS ${qv_java_flags})

# quorvane-native.jar: the loader (java/nativelib) and, as resources, each library this build can reach.
set(QV_WINDOWS_DLL "" CACHE FILEPATH
    "quorvane.dll from the i686 cross-build: packed into quorvane-native.jar and checked, when set")
set(QV_WINDOWS_DLL_X64 "" CACHE FILEPATH
    "quorvane.dll from the x86_64 cross-build: packed into quorvane-native.jar and checked, when set")
option(QV_NATIVE_JAR_COMPLETE "Fail unless quorvane-native.jar gets all three libraries (CI)" OFF)
file(GLOB_RECURSE QV_JAVA_NATIVELIB_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/java/nativelib/*.java)
# The loader runs in every JVM's start, cold: inline concatenation, as the tools'.
list(APPEND CMAKE_JAVA_COMPILE_FLAGS -XDstringConcat=inline)
add_jar(quorvane_nativelib SOURCES ${QV_JAVA_NATIVELIB_SOURCES} MANIFEST ${QV_GENERATED}/MANIFEST.MF
        OUTPUT_DIR ${CMAKE_BINARY_DIR}/java/loader OUTPUT_NAME quorvane-nativelib)
set(CMAKE_JAVA_COMPILE_FLAGS ${qv_java_flags})
get_target_property(qv_loader_jar quorvane_nativelib JAR_FILE)
set(qv_libraries "linux-x86-64/libquorvane.so=$<TARGET_FILE:quorvane>")
set(qv_dlls "")
foreach(dll IN ITEMS "win32-x86;QV_WINDOWS_DLL" "win32-x86-64;QV_WINDOWS_DLL_X64")
  list(GET dll 0 folder)
  list(GET dll 1 variable)
  if(${variable} AND EXISTS "${${variable}}")
    string(APPEND qv_libraries "|${folder}/quorvane.dll=${${variable}}")
    list(APPEND qv_dlls "${${variable}}")
    continue()
  endif()
  set(why "quorvane-native.jar lacks ${folder}/quorvane.dll: ${variable} (\"${${variable}}\") names no file")
  if(QV_NATIVE_JAR_COMPLETE)
    message(FATAL_ERROR "${why}; build that Windows preset first")
  endif()
  message(STATUS "${why}; to add it, build that Windows preset and configure with ${variable} naming its DLL")
endforeach()
set(QV_NATIVE_JAR ${CMAKE_BINARY_DIR}/java/quorvane-native.jar)
add_custom_command(OUTPUT ${QV_NATIVE_JAR}
  COMMAND ${CMAKE_COMMAND} -DJAR_TOOL=${QV_JAR_TOOL} -DDATE=${QV_ARCHIVE_DATE} -DJAVAC=${Java_JAVAC_EXECUTABLE}
          -DVERSION=${QV_VERSION} -DLOADER=${qv_loader_jar} -DOUTPUT=${QV_NATIVE_JAR}
          -DSTAGE=${CMAKE_BINARY_DIR}/java/native-stage "-DLIBRARIES=${qv_libraries}"
          -P ${QV_ROOT}/cmake/NativeJar.cmake
  DEPENDS quorvane_nativelib ${qv_loader_jar} quorvane ${qv_dlls} ${QV_ROOT}/cmake/NativeJar.cmake
  COMMENT "Creating Java archive quorvane-native.jar" VERBATIM)
add_custom_target(quorvane_native ALL DEPENDS ${QV_NATIVE_JAR})
