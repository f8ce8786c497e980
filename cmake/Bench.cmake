# Benchmarks (Google Benchmark unless said otherwise), built when QV_BENCH is
# on, each over the library's core objects; each subsystem adds a line.
if(WIN32 OR NOT TARGET qv_base)
  return()
endif()
find_package(benchmark REQUIRED)

# qv_bench(NAME SOURCE [PLAIN]): PLAIN for a harness of its own (no Google Benchmark).
function(qv_bench name source)
  add_executable(${name} ${QV_ROOT}/bench/${source} $<TARGET_OBJECTS:qv_base>)
  target_include_directories(${name} PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(${name} SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  if(NOT "PLAIN" IN_LIST ARGN)
    target_link_libraries(${name} PRIVATE benchmark::benchmark)
  endif()
  target_link_libraries(${name} PRIVATE ${QV_LINUX_LIBS})
endfunction()

# Logger: lines per second at INFO with file output.
qv_bench(qv_logger_bench LoggerBench.cpp)
# Compound-file engine: open + read / replace a small stream, 50 KB vs 200 MB.
qv_bench(qv_cfb_bench CfbBench.cpp)
# Property sets: user-defined sets of 1,000 to 4,000 properties on a document.
qv_bench(qv_props_bench PropsBench.cpp)
# Registry: RegSetValueExW per second, one process and four at once; RegEnumValueW over 1,000 to 20,000 values.
qv_bench(qv_registry_bench RegistryBench.cpp)
# Folder change notification: a 10,000-file burst in new folders, and the delay.
qv_bench(qv_dirwatch_bench DirWatchBench.cpp PLAIN)
# Data protection: protect + unprotect of a 64-byte secret, per second.
qv_bench(qv_protect_bench ProtectBench.cpp)
