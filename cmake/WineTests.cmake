# The Windows build's code run under Wine. The i686 cross-build makes the
# programs (into <build>/wine); the Linux build registers the ctest tests
# that run them, under a Wine prefix made for the run in a temporary folder.
option(QV_WINE_TESTS "Windows build: build the Wine test programs; Linux build: run them under Wine" OFF)
if(NOT QV_WINE_TESTS)
  return()
endif()

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
  include(WineTestPrograms OPTIONAL)
  return()
endif()

# --- Linux: run them -------------------------------------------------------
find_program(QV_WINE wine REQUIRED)
get_filename_component(QV_WINE_PROGRAMS ${QV_WINDOWS_DLL} DIRECTORY)
set(QV_WINE_PROGRAMS ${QV_WINE_PROGRAMS}/wine)
set(QV_WINE_STATE ${CMAKE_BINARY_DIR}/wine-prefix.path)
set(QV_WINE_RUN bash ${QV_ROOT}/tests/windows/wine-run.sh ${QV_WINE_STATE})

add_test(NAME wine.prefix COMMAND bash ${QV_ROOT}/tests/windows/wine-prefix.sh create ${QV_WINE_STATE})
add_test(NAME wine.prefix_removed COMMAND bash ${QV_ROOT}/tests/windows/wine-prefix.sh remove ${QV_WINE_STATE})
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

include(WineTestRuns OPTIONAL)
