# The Windows build's code run under Wine. The i686 cross-build makes the
# programs (into <build>/wine); the Linux build registers the ctest tests
# that run them, under a Wine prefix made for the run in a temporary folder.
option(QV_WINE_TESTS "Windows build: build the Wine test programs; Linux build: run them under Wine" OFF)
if(NOT QV_WINE_TESTS)
  return()
endif()

# Units of tests/native that hold for the Windows build too.
set(QV_WINE_PORTABLE_TESTS
    ComApartmentTest.cpp DateTimeTest.cpp DocfilePropertiesTest.cpp ExceptionReportTest.cpp FileStoreTest.cpp LoggerTest.cpp
    MessageFormatTest.cpp PlatformTextTest.cpp PropertiesTest.cpp PropsPlatformTextTest.cpp SettingsFileTest.cpp
    StragglerDetectorTest.cpp)

if(WIN32)
  set(QV_WINE_OUT ${CMAKE_BINARY_DIR}/wine)

  # Loads quorvane.dll and resolves every native method of the table.
  add_executable(qv_load_check ${QV_ROOT}/tests/windows/LoadCheck.cpp)
  target_link_options(qv_load_check PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
  # A DLL on the shared C++ runtime, which the load check must refuse.
  add_library(qv_foreign_import SHARED ${QV_ROOT}/tests/windows/ForeignImport.cpp)
  set_target_properties(qv_foreign_import PROPERTIES PREFIX "")
  set_target_properties(qv_load_check qv_foreign_import PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT} LIBRARY_OUTPUT_DIRECTORY ${QV_WINE_OUT})
  add_dependencies(qv_load_check quorvane qv_foreign_import)
  # The toolchain's shared libgcc, which the load check loads first: another
  # mingw-built library in the JVM brings it.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(qv_libgcc libgcc_s_dw2-1.dll)
  else()
    set(qv_libgcc libgcc_s_seh-1.dll)
  endif()
  foreach(runtime ${qv_libgcc} libwinpthread-1.dll)  # this toolchain's libgcc needs winpthread
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime} OUTPUT_VARIABLE qv_runtime_path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS ${qv_runtime_path})
      message(FATAL_ERROR "the toolchain has no ${runtime}")
    endif()
    file(COPY ${qv_runtime_path} DESTINATION ${QV_WINE_OUT}/foreign-runtime)
  endforeach()

  # A stand-in java.exe for the docprops.cmd test.
  add_executable(qv_fake_java ${QV_ROOT}/tests/windows/FakeJava.cpp)
  target_link_options(qv_fake_java PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
  set_target_properties(qv_fake_java PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT})

  # GoogleTest from Debian's sources, built with this toolchain.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The portable units of tests/native, and the Windows-only ones.
  set(QV_WINE_UNIT_SOURCES ${QV_WINE_PORTABLE_TESTS})
  list(TRANSFORM QV_WINE_UNIT_SOURCES PREPEND ${QV_ROOT}/tests/native/)
  file(GLOB qv_windows_tests CONFIGURE_DEPENDS ${QV_ROOT}/tests/windows/*Test.cpp)
  # With the document path's storage layer, which needs no JVM.
  # The JNIEnv the DLL's exports are called through.
  set(qv_hotspot_jni ${QV_ROOT}/tests/windows/HotspotJni.cpp ${QV_ROOT}/tests/windows/HotspotJniModel.cpp)
  add_executable(qv_wine_unit_tests ${QV_WINE_UNIT_SOURCES} ${qv_windows_tests} ${QV_ROOT}/tests/windows/WineMain.cpp
                 ${qv_hotspot_jni}
                 ${QV_ROOT}/native/jni/PropertyStorage.cpp ${QV_ROOT}/native/jni/JNIException.cpp
                 $<TARGET_OBJECTS:qv_win_common>)
  qv_windows_target(qv_wine_unit_tests)
  target_include_directories(qv_wine_unit_tests PRIVATE ${QV_ROOT}/tests/native ${QV_ROOT}/tests/windows)
  target_compile_definitions(qv_wine_unit_tests PRIVATE QV_WINDOWS_DLL_NAME="quorvane.dll")
  target_link_libraries(qv_wine_unit_tests PRIVATE gtest ${QV_WINDOWS_LIBS} iphlpapi)
  target_link_options(qv_wine_unit_tests PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
  set_target_properties(qv_wine_unit_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT})
  add_dependencies(qv_wine_unit_tests quorvane qv_wine_log_writer qv_wine_props_cross)
  # The DLL's document methods over the fixtures, compared with the Linux library's in a real JVM.
  add_executable(qv_wine_document_dump ${QV_ROOT}/tests/windows/DocumentMethodsDump.cpp ${qv_hotspot_jni})
  qv_windows_target(qv_wine_document_dump)
  target_include_directories(qv_wine_document_dump PRIVATE ${QV_ROOT}/tests/windows)
  target_link_options(qv_wine_document_dump PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
  set_target_properties(qv_wine_document_dump PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT})
  add_dependencies(qv_wine_unit_tests qv_wine_document_dump)
  # The Windows side of the cross-reading test: the same tool over ole32.
  add_executable(qv_wine_props_cross ${QV_ROOT}/tests/props/PropertySetCross.cpp $<TARGET_OBJECTS:qv_win_common>)
  # The logger test's second and third processes.
  add_executable(qv_wine_log_writer ${QV_ROOT}/tests/logger/LogWriter.cpp $<TARGET_OBJECTS:qv_win_common>)
  foreach(program qv_wine_log_writer qv_wine_props_cross)
    qv_windows_target(${program})
    target_link_libraries(${program} PRIVATE ${QV_WINDOWS_LIBS})
    target_link_options(${program} PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
    set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT})
  endforeach()
  return()
endif()

# --- Linux: run them -------------------------------------------------------
# Each Windows build gets its own prefix and the same tests, named
# wine.<build>.*: i686 runs under Wine's 32-bit loader (skipped, each test
# saying why, where the kernel cannot execute 32-bit programs), x86_64 under
# wine64.
find_program(QV_WINE wine REQUIRED)
set(QV_WINE_SH ${QV_ROOT}/tests/windows/wine.sh)

# The unit suites, one ctest test per suite (suites read from the sources).
set(qv_unit_sources ${QV_WINE_PORTABLE_TESTS})
list(TRANSFORM qv_unit_sources PREPEND ${QV_ROOT}/tests/native/)
file(GLOB qv_windows_tests CONFIGURE_DEPENDS ${QV_ROOT}/tests/windows/*Test.cpp)
set(qv_suites)
foreach(source IN LISTS qv_unit_sources qv_windows_tests)
  file(STRINGS ${source} qv_lines REGEX "^TEST(_F)?\\([A-Za-z0-9_]+,")
  foreach(line IN LISTS qv_lines)
    string(REGEX REPLACE "^TEST(_F)?\\(([A-Za-z0-9_]+),.*" "\\2" suite "${line}")
    list(APPEND qv_suites ${suite})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES qv_suites)

# Cross-reading: documents written by our engine read through Wine's ole32
# and the other way round, compared with each side's own reading.
add_executable(qv_props_cross ${QV_ROOT}/tests/props/PropertySetCross.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_props_cross PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_props_cross SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(qv_props_cross PRIVATE ${QV_LINUX_LIBS})

file(READ ${QV_EXPORTS_TABLE} qv_table)
file(WRITE ${CMAKE_BINARY_DIR}/exports-plus-missing.txt "${qv_table}NoSuchMethod 8\n")

# The compound-document methods of the Linux library in a real JVM (-Xcheck:jni), over every fixture: the dump each
# Windows build's answers are compared with (tests/props/document_methods_match.py).
set(QV_DOCUMENT_METHODS_SCRIPT ${QV_ROOT}/tests/props/document_methods_match.py)
set(QV_DOCUMENT_METHODS_LINUX ${CMAKE_BINARY_DIR}/document-methods-linux.txt)
add_test(NAME document_methods.linux_dump
  COMMAND /usr/bin/python3 ${QV_DOCUMENT_METHODS_SCRIPT} linux ${QV_DOCUMENT_METHODS_LINUX} ${Java_JAVA_EXECUTABLE}
          ${CMAKE_BINARY_DIR}/lib ${CMAKE_BINARY_DIR}/java/quorvane-client.jar ${QV_ROOT}/tests/fixtures/compound)
set_tests_properties(document_methods.linux_dump PROPERTIES FIXTURES_SETUP document_methods_linux TIMEOUT 300)

# Every test of one Windows build: qv_wine_suite(BUILD DLL MISSING_EXPORT_NAME SHARED_LIBGCC)
function(qv_wine_suite build dll missing libgcc)
  get_filename_component(programs ${dll} DIRECTORY)
  set(programs ${programs}/wine)
  set(state ${CMAKE_BINARY_DIR}/wine-prefix-${build}.path)
  set(fixture wine_${build})
  set(prefix wine.${build})
  add_test(NAME ${prefix}.prefix COMMAND bash ${QV_WINE_SH} create ${state} ${build})
  add_test(NAME ${prefix}.prefix_removed COMMAND bash ${QV_WINE_SH} remove ${state})
  set_tests_properties(${prefix}.prefix PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 300 SKIP_RETURN_CODE 77)
  set_tests_properties(${prefix}.prefix_removed PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 120 SKIP_RETURN_CODE 77)
  set(tests)
  macro(qv_wine_test name program)
    add_test(NAME ${prefix}.${name} COMMAND bash ${QV_WINE_SH} run ${state} ${programs}/${program} ${ARGN})
    list(APPEND tests ${prefix}.${name})
  endmacro()

  qv_wine_test(load_check qv_load_check.exe ${dll} ${QV_EXPORTS_TABLE})
  qv_wine_test(load_check_after_a_shared_libgcc qv_load_check.exe ${dll} ${QV_EXPORTS_TABLE}
               ${programs}/foreign-runtime/${libgcc})
  # The check must be able to fail: a DLL on the shared C++ runtime, and a
  # table naming a method the DLL does not have.
  qv_wine_test(load_check_refuses_foreign_dlls qv_load_check.exe ${programs}/qv_foreign_import.dll ${QV_EXPORTS_TABLE})
  set_tests_properties(${prefix}.load_check_refuses_foreign_dlls PROPERTIES
                       PASS_REGULAR_EXPRESSION "IMPORTS A NON-SYSTEM DLL: libstdc\\+\\+-6\\.dll")
  qv_wine_test(load_check_refuses_missing_methods qv_load_check.exe ${dll} ${CMAKE_BINARY_DIR}/exports-plus-missing.txt)
  set_tests_properties(${prefix}.load_check_refuses_missing_methods PROPERTIES PASS_REGULAR_EXPRESSION
                       "NOT RESOLVED: ${missing}\n")

  foreach(suite IN LISTS qv_suites)
    qv_wine_test(unit.${suite} qv_wine_unit_tests.exe --gtest_filter=${suite}.*)
    # A suite whose every test is left out on Windows or Wine runs no test: shown as skipped.
    set_tests_properties(${prefix}.unit.${suite} PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=Z:${QV_ROOT}"
                         SKIP_REGULAR_EXPRESSION "\\[==========\\] Running 0 tests")
    # The logger suites look at the user's named mutex, which one wine server shares.
    if(suite MATCHES "^Logger")
      set_tests_properties(${prefix}.unit.${suite} PROPERTIES RESOURCE_LOCK wine_logger_mutex_${build})
    endif()
  endforeach()

  add_test(NAME ${prefix}.docprops_cmd COMMAND bash ${QV_ROOT}/tests/windows/docprops-cmd.sh ${QV_WINE_SH} ${state}
           ${programs}/qv_fake_java.exe ${QV_ROOT}/tools/launchers/docprops.cmd)
  list(APPEND tests ${prefix}.docprops_cmd)
  # The exports' summary line is the suite's answer: every export in a checked row, no fault.
  set_tests_properties(${prefix}.unit.ExportedMethods PROPERTIES
                       PASS_REGULAR_EXPRESSION "41 exports, [0-9]+ functional rows, 0 faults\n"
                       FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")

  add_test(NAME ${prefix}.cross_read
    COMMAND /usr/bin/python3 ${QV_ROOT}/tests/props/cross_read.py $<TARGET_FILE:qv_props_cross>
            ${programs}/qv_wine_props_cross.exe ${state} ${QV_ROOT}/tests/fixtures/compound)
  list(APPEND tests ${prefix}.cross_read)
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED ${fixture} TIMEOUT 300 SKIP_RETURN_CODE 77)
  # The DLL's document methods against the Linux library's, differences proven Wine's by a plain ole32 program.
  add_test(NAME ${prefix}.document_methods
    COMMAND /usr/bin/python3 ${QV_DOCUMENT_METHODS_SCRIPT} wine ${QV_DOCUMENT_METHODS_LINUX}
            ${programs}/qv_wine_document_dump.exe ${programs}/qv_wine_props_cross.exe ${state}
            ${QV_ROOT}/tests/fixtures/compound)
  set_tests_properties(${prefix}.document_methods PROPERTIES FIXTURES_REQUIRED "${fixture};document_methods_linux"
                       TIMEOUT 900 SKIP_RETURN_CODE 77)
endfunction()

qv_wine_suite(i686 ${QV_WINDOWS_DLL} "_Java_com_quorvane_infrastructure_os_windows_Win32Impl_NoSuchMethod@8"
              libgcc_s_dw2-1.dll)
qv_wine_suite(x86_64 ${QV_WINDOWS_DLL_X64} "Java_com_quorvane_infrastructure_os_windows_Win32Impl_NoSuchMethod"
              libgcc_s_seh-1.dll)

# Where the kernel cannot execute 32-bit programs the i686 suite is skipped,
# never failed: the detection tried with a loader that no kernel executes.
add_test(NAME wine.i686.skipped_without_32bit_loader COMMAND bash ${QV_ROOT}/tests/windows/wine-skip.sh ${QV_WINE_SH})
