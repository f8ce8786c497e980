# The Windows build's code run under Wine. The i686 cross-build makes the
# programs (into <build>/wine); the Linux build registers the ctest tests
# that run them, under a Wine prefix made for the run in a temporary folder.
option(QV_WINE_TESTS "Windows build: build the Wine test programs; Linux build: run them under Wine" OFF)
if(NOT QV_WINE_TESTS)
  return()
endif()

# Units of tests/native that hold for the Windows build too.
set(QV_WINE_PORTABLE_TESTS
    DateTimeTest.cpp DocfilePropertiesTest.cpp ExceptionReportTest.cpp FileStoreTest.cpp LoggerTest.cpp
    MessageFormatTest.cpp PlatformTextTest.cpp PropertiesTest.cpp PropsPlatformTextTest.cpp SettingsFileTest.cpp
    StragglerDetectorTest.cpp VersionHistoryTest.cpp)

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

  # GoogleTest from Debian's sources, built with this toolchain.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The portable units of tests/native, and the Windows-only ones.
  set(QV_WINE_UNIT_SOURCES ${QV_WINE_PORTABLE_TESTS})
  list(TRANSFORM QV_WINE_UNIT_SOURCES PREPEND ${QV_ROOT}/tests/native/)
  file(GLOB qv_windows_tests CONFIGURE_DEPENDS ${QV_ROOT}/tests/windows/*Test.cpp)
  # With the document path's storage layer, which needs no JVM.
  add_executable(qv_wine_unit_tests ${QV_WINE_UNIT_SOURCES} ${qv_windows_tests} ${QV_ROOT}/tests/windows/WineMain.cpp
                 ${QV_ROOT}/native/jni/PropertyStorage.cpp ${QV_ROOT}/native/jni/JNIException.cpp
                 $<TARGET_OBJECTS:qv_win_common>)
  qv_windows_target(qv_wine_unit_tests)
  target_include_directories(qv_wine_unit_tests PRIVATE ${QV_ROOT}/tests/native ${QV_ROOT}/tests/windows)
  target_compile_definitions(qv_wine_unit_tests PRIVATE QV_WINDOWS_DLL_NAME="quorvane.dll")
  target_link_libraries(qv_wine_unit_tests PRIVATE gtest ${QV_WINDOWS_LIBS})
  target_link_options(qv_wine_unit_tests PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
  set_target_properties(qv_wine_unit_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_OUT})
  add_dependencies(qv_wine_unit_tests quorvane qv_wine_log_writer qv_wine_props_cross)
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
find_program(QV_WINE wine REQUIRED)
get_filename_component(QV_WINE_PROGRAMS ${QV_WINDOWS_DLL} DIRECTORY)
set(QV_WINE_PROGRAMS ${QV_WINE_PROGRAMS}/wine)
set(QV_WINE_STATE ${CMAKE_BINARY_DIR}/wine-prefix.path)
set(QV_WINE_RUN bash ${QV_ROOT}/tests/windows/wine.sh run ${QV_WINE_STATE})

add_test(NAME wine.prefix COMMAND bash ${QV_ROOT}/tests/windows/wine.sh create ${QV_WINE_STATE})
add_test(NAME wine.prefix_removed COMMAND bash ${QV_ROOT}/tests/windows/wine.sh remove ${QV_WINE_STATE})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine.prefix_removed PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)

# Runs a Windows program under the fixture's prefix: qv_wine_test(NAME PROGRAM ARGS...)
function(qv_wine_test name program)
  add_test(NAME ${name} COMMAND ${QV_WINE_RUN} ${QV_WINE_PROGRAMS}/${program} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
endfunction()

qv_wine_test(wine.load_check qv_load_check.exe ${QV_WINDOWS_DLL} ${QV_EXPORTS_TABLE})
# The check must be able to fail: a DLL on the shared C++ runtime, and a
# table naming a method the DLL does not have.
qv_wine_test(wine.load_check_refuses_foreign_dlls qv_load_check.exe
             ${QV_WINE_PROGRAMS}/qv_foreign_import.dll ${QV_EXPORTS_TABLE})
set_tests_properties(wine.load_check_refuses_foreign_dlls PROPERTIES
                     PASS_REGULAR_EXPRESSION "IMPORTS A NON-SYSTEM DLL: libstdc\\+\\+-6\\.dll")
file(READ ${QV_EXPORTS_TABLE} qv_table)
file(WRITE ${CMAKE_BINARY_DIR}/exports-plus-missing.txt "${qv_table}NoSuchMethod 8\n")
qv_wine_test(wine.load_check_refuses_missing_methods qv_load_check.exe
             ${QV_WINDOWS_DLL} ${CMAKE_BINARY_DIR}/exports-plus-missing.txt)
set_tests_properties(wine.load_check_refuses_missing_methods PROPERTIES PASS_REGULAR_EXPRESSION
                     "NOT RESOLVED: _Java_com_quorvane_infrastructure_os_windows_Win32Impl_NoSuchMethod@8\n")

# The unit tests, one ctest test per suite (suites read from the sources).
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
foreach(suite IN LISTS qv_suites)
  qv_wine_test(wine.unit.${suite} qv_wine_unit_tests.exe --gtest_filter=${suite}.*)
  # A suite whose every test is left out on Windows or Wine runs no test: shown as skipped.
  set_tests_properties(wine.unit.${suite} PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=Z:${QV_ROOT}"
                       SKIP_REGULAR_EXPRESSION "\\[==========\\] Running 0 tests")
  # The logger suites look at the user's named mutex, which one wine server shares.
  if(suite MATCHES "^Logger")
    set_tests_properties(wine.unit.${suite} PROPERTIES RESOURCE_LOCK wine_logger_mutex)
  endif()
endforeach()

# Cross-reading: documents written by our engine read through Wine's ole32
# and the other way round, compared with each side's own reading.
add_executable(qv_props_cross ${QV_ROOT}/tests/props/PropertySetCross.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_props_cross PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_props_cross SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(qv_props_cross PRIVATE ${QV_LINUX_LIBS})
add_test(NAME wine.cross_read
  COMMAND /usr/bin/python3 ${QV_ROOT}/tests/props/cross_read.py $<TARGET_FILE:qv_props_cross>
          ${QV_WINE_PROGRAMS}/qv_wine_props_cross.exe ${QV_WINE_STATE} ${QV_ROOT}/../shared/fixtures/compound)
set_tests_properties(wine.cross_read PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
