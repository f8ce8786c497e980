# Native unit tests (plain and sanitized), the test-only JNI library, JUnit
# through a real JVM, the Windows export check and the hardening check.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB_RECURSE QV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/tests/native/*.cpp)

add_executable(qv_unit_tests ${QV_UNIT_TEST_SOURCES} $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_unit_tests PRIVATE ${QV_INCLUDE_DIRS} ${QV_ROOT}/tests/native)
target_include_directories(qv_unit_tests SYSTEM PRIVATE ${Boost_INCLUDE_DIRS} ${QV_DRIVES_INCLUDE_DIRS} ${QV_INET_INCLUDE_DIRS})
# The notification tests speak to their own bus with GIO.
target_link_libraries(qv_unit_tests PRIVATE GTest::gtest_main ${QV_LINUX_LIBS} PkgConfig::QV_GIO)
# Every native test runs in a private environment, never the developer's own.
set(QV_PRIVATE_ENV ${QV_ROOT}/tests/private-env.sh)
set_target_properties(qv_unit_tests PROPERTIES CROSSCOMPILING_EMULATOR ${QV_PRIVATE_ENV})
gtest_discover_tests(qv_unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=${QV_ROOT}")

if(QV_SANITIZED_TESTS)
  set(QV_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # The core and the platform layer compiled once under the sanitizers, for the sanitized units and library.
  add_library(qv_base_asan OBJECT ${QV_COMMON_SOURCES} ${QV_POSIX_SOURCES})
  target_include_directories(qv_base_asan PRIVATE ${QV_INCLUDE_DIRS} ${JNI_INCLUDE_DIRS})
  target_include_directories(qv_base_asan SYSTEM PRIVATE ${Boost_INCLUDE_DIRS} ${QV_GIO_INCLUDE_DIRS}
                             ${QV_DRIVES_INCLUDE_DIRS} ${QV_INET_INCLUDE_DIRS})
  target_compile_options(qv_base_asan PRIVATE ${QV_SAN_FLAGS} -O1 -g)
  set_target_properties(qv_base_asan PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  add_executable(qv_unit_tests_asan ${QV_UNIT_TEST_SOURCES} $<TARGET_OBJECTS:qv_base_asan>)
  target_include_directories(qv_unit_tests_asan PRIVATE ${QV_INCLUDE_DIRS} ${QV_ROOT}/tests/native)
  target_include_directories(qv_unit_tests_asan SYSTEM PRIVATE ${Boost_INCLUDE_DIRS} ${QV_DRIVES_INCLUDE_DIRS} ${QV_INET_INCLUDE_DIRS})
  target_compile_options(qv_unit_tests_asan PRIVATE ${QV_SAN_FLAGS} -O1 -g)
  target_link_options(qv_unit_tests_asan PRIVATE ${QV_SAN_FLAGS})
  target_link_libraries(qv_unit_tests_asan PRIVATE GTest::gtest_main ${QV_LINUX_LIBS} PkgConfig::QV_GIO)
  set_target_properties(qv_unit_tests_asan PROPERTIES CROSSCOMPILING_EMULATOR ${QV_PRIVATE_ENV})
  gtest_discover_tests(qv_unit_tests_asan TEST_PREFIX "asan." DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=${QV_ROOT}")
endif()

# Test-only JNI library: hooks that let Java drive the boundary's internals. Never shipped.
file(GLOB QV_HOOK_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/tests/hooks/*.cpp)
add_library(quorvane_testhooks SHARED ${QV_HOOK_SOURCES}
            $<TARGET_OBJECTS:qv_base> $<TARGET_OBJECTS:qv_jnisupport>)
target_include_directories(quorvane_testhooks PRIVATE ${QV_INCLUDE_DIRS} ${JNI_INCLUDE_DIRS})
target_include_directories(quorvane_testhooks SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(quorvane_testhooks PRIVATE ${QV_LINUX_LIBS})
set_target_properties(quorvane_testhooks PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
                      CXX_VISIBILITY_PRESET hidden)

# Test-only preload that holds GLib's SIGPIPE change open for a while. Never shipped.
add_library(qv_slow_sigpipe SHARED ${QV_ROOT}/tests/preload/SlowSigpipe.cpp)
target_link_libraries(qv_slow_sigpipe PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(qv_slow_sigpipe PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# Test-only stand-in for a missing library (tests/preload/Unloadable.c). Never shipped.
add_library(qv_unloadable SHARED ${QV_ROOT}/tests/preload/Unloadable.c)
set_target_properties(qv_unloadable PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# JUnit 5 through the real JVM with -Xcheck:jni.
set(QV_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar CACHE FILEPATH "JUnit console launcher")
# Gson parses docprops' JSON output in the tests (the tool itself only writes JSON).
set(QV_GSON_JAR /usr/share/java/gson.jar CACHE FILEPATH "Gson, for the tests")
set(QV_POI_CLASSPATH "/usr/share/java/poi.jar:/usr/share/java/commons-collections4.jar:/usr/share/java/commons-math3.jar:/usr/share/java/commons-codec.jar:/usr/share/java/commons-io.jar:/usr/share/java/log4j-api.jar")
file(GLOB_RECURSE QV_JAVA_TEST_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/tests/java/*.java)
add_jar(quorvane_tests SOURCES ${QV_JAVA_TEST_SOURCES}
        INCLUDE_JARS quorvane_client quorvane_tools quorvane_nativelib ${QV_JUNIT_JAR} /usr/share/java/poi.jar ${QV_GSON_JAR}
        MANIFEST ${QV_GENERATED}/MANIFEST.MF OUTPUT_DIR ${CMAKE_BINARY_DIR}/java OUTPUT_NAME quorvane-tests)
add_dependencies(quorvane_tests quorvane quorvane_native quorvane_testhooks qv_slow_sigpipe qv_unloadable)

add_test(NAME junit
  COMMAND bash ${QV_ROOT}/tests/java/run-junit.sh
          ${Java_JAVA_EXECUTABLE} ${QV_JUNIT_JAR} ${CMAKE_BINARY_DIR}/lib
          "${CMAKE_BINARY_DIR}/java/quorvane-client.jar:${CMAKE_BINARY_DIR}/java/quorvane-tools.jar:${CMAKE_BINARY_DIR}/java/quorvane-native.jar:${CMAKE_BINARY_DIR}/java/quorvane-tests.jar:${QV_GSON_JAR}:${QV_POI_CLASSPATH}")
set_tests_properties(junit PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=${QV_ROOT};QV_BUILD_DIR=${CMAKE_BINARY_DIR}" TIMEOUT 1200)

# The hostile input sweep again, on a copy of the library built with AddressSanitizer and UBSan (lib-asan/). The
# JVM gets the ASan runtime first; it uses SIGSEGV itself and never frees some memory, so ASan leaves both alone.
if(QV_SANITIZED_TESTS)
  add_library(quorvane_asan SHARED ${QV_JNI_SOURCES} ${QV_NATIVES_SOURCES} $<TARGET_OBJECTS:qv_base_asan>)
  target_include_directories(quorvane_asan PRIVATE ${QV_INCLUDE_DIRS} ${JNI_INCLUDE_DIRS})
  target_include_directories(quorvane_asan SYSTEM PRIVATE ${Boost_INCLUDE_DIRS} ${QV_GIO_INCLUDE_DIRS}
                             ${QV_DRIVES_INCLUDE_DIRS} ${QV_INET_INCLUDE_DIRS})
  target_compile_options(quorvane_asan PRIVATE ${QV_SAN_FLAGS} -O1 -g)
  target_link_options(quorvane_asan PRIVATE ${QV_SAN_FLAGS})
  target_link_libraries(quorvane_asan PRIVATE ${QV_LINUX_LIBS})
  set_target_properties(quorvane_asan PROPERTIES OUTPUT_NAME quorvane LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib-asan
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  add_dependencies(quorvane_tests quorvane_asan)
  # The C++ runtime is preloaded too: ASan finds __cxa_throw only in a library loaded before it starts.
  foreach(runtime asan stdc++)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${runtime}.so OUTPUT_VARIABLE QV_LIB${runtime}
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  add_test(NAME junit.asan_sweep
    COMMAND bash ${QV_ROOT}/tests/java/run-junit.sh
            ${Java_JAVA_EXECUTABLE} ${QV_JUNIT_JAR} ${CMAKE_BINARY_DIR}/lib-asan
            "${CMAKE_BINARY_DIR}/java/quorvane-client.jar:${CMAKE_BINARY_DIR}/java/quorvane-tools.jar:${CMAKE_BINARY_DIR}/java/quorvane-tests.jar:${QV_POI_CLASSPATH}"
            "--exclude-classname=^(?!.*HostileInputSweepTest$).*")
  set_tests_properties(junit.asan_sweep PROPERTIES TIMEOUT 1200 ENVIRONMENT
    "QV_SOURCE_DIR=${QV_ROOT};QV_BUILD_DIR=${CMAKE_BINARY_DIR};LD_PRELOAD=${QV_LIBasan}:${QV_LIBstdc++};ASAN_OPTIONS=detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:use_sigaltstack=0:halt_on_error=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
endif()

# Windows DLL export tables against the Linux library's native methods.
# (QV_WINDOWS_DLL, QV_WINDOWS_DLL_X64: cmake/JavaBuild.cmake)
if(QV_WINDOWS_DLL AND QV_WINDOWS_DLL_X64)
  add_test(NAME windows_exports
    COMMAND bash ${QV_ROOT}/tests/exports/check-exports.sh
            $<TARGET_FILE:quorvane> ${QV_EXPORTS_TABLE} ${QV_WINDOWS_DLL} ${QV_WINDOWS_DLL_X64})
  # What the shipped binaries are built with (cmake/Hardening.cmake).
  add_test(NAME hardening
    COMMAND bash ${QV_ROOT}/tests/hardening/check-hardening.sh
            ${QV_VERSION} $<TARGET_FILE:quorvane> $<TARGET_FILE:reg> ${QV_WINDOWS_DLL} ${QV_WINDOWS_DLL_X64})
  set_tests_properties(hardening PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=${QV_ROOT}")
  # The Windows builds' programs run under Wine (cmake/WineTests.cmake).
  include(WineTests)
endif()

# --- Window tests: the test hooks make and inspect real X windows (Xvfb) ---
find_package(X11 REQUIRED)
target_link_libraries(quorvane_testhooks PRIVATE X11::X11)

# --- Logger across processes -------------------------------------------------
# qv_log_writer links the library's objects and is run as several processes by
# qv_logger_process_tests (shared log file, roll, abandoned mutex).
add_executable(qv_log_writer ${QV_ROOT}/tests/logger/LogWriter.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_log_writer PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_log_writer SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(qv_log_writer PRIVATE ${QV_LINUX_LIBS})

add_executable(qv_logger_process_tests ${QV_ROOT}/tests/logger/LoggerProcessTest.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_logger_process_tests PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_logger_process_tests SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_compile_definitions(qv_logger_process_tests PRIVATE QV_LOG_WRITER="$<TARGET_FILE:qv_log_writer>")
target_link_libraries(qv_logger_process_tests PRIVATE GTest::gtest_main ${QV_LINUX_LIBS})
add_dependencies(qv_logger_process_tests qv_log_writer)
set_target_properties(qv_logger_process_tests PROPERTIES CROSSCOMPILING_EMULATOR ${QV_PRIVATE_ENV})
gtest_discover_tests(qv_logger_process_tests TEST_PREFIX "logger." DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 300)

# --- Property sets: our codec against Apache POI and olefile ----------------
# qv_props_dump prints the fixtures' property streams as our codec reads them
# and writes them laid out afresh; the script compares that with POI and
# checks that POI and olefile read the re-laid streams like the originals.
add_executable(qv_props_dump ${QV_ROOT}/tests/props/PropsDump.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_props_dump PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_props_dump SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(qv_props_dump PRIVATE ${QV_LINUX_LIBS})
add_test(NAME props_poi
  COMMAND /usr/bin/python3 ${QV_ROOT}/tests/props/compare_with_poi.py $<TARGET_FILE:qv_props_dump>
          ${QV_ROOT}/tests/fixtures/compound ${CMAKE_BINARY_DIR}/props_poi ${Java_JAVA_EXECUTABLE}
          "${QV_POI_CLASSPATH}")
set_tests_properties(props_poi PROPERTIES TIMEOUT 300)
# The libFuzzer targets need clang: tests/fuzz/build.sh builds them, tests/fuzz/run.sh runs one.

# Fuzz targets (clang, ASan + UBSan): built once, each run for a bounded time.
set(QV_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs under ctest (0: not run)")
if(QV_FUZZ_SECONDS GREATER 0)
  add_test(NAME fuzz.build COMMAND bash ${QV_ROOT}/tests/fuzz/build.sh ${CMAKE_BINARY_DIR}/fuzz)
  set_tests_properties(fuzz.build PROPERTIES FIXTURES_SETUP fuzzers TIMEOUT 900)
  foreach(target settings_fuzz message_format_fuzz cfb_fuzz props_fuzz pe_version_fuzz netrc_fuzz)
    add_test(NAME fuzz.${target}
             COMMAND bash ${QV_ROOT}/tests/fuzz/run.sh ${CMAKE_BINARY_DIR}/fuzz ${target} ${QV_FUZZ_SECONDS})
    set_tests_properties(fuzz.${target} PROPERTIES FIXTURES_REQUIRED fuzzers TIMEOUT 300)
  endforeach()
endif()
