# Benchmarks (Google Benchmark), built when QV_BENCH is on; each subsystem adds a block.
if(WIN32)
  return()
endif()

# --- Logger benchmark: lines per second at INFO with file output -------------
find_package(benchmark REQUIRED)
add_executable(qv_logger_bench ${QV_ROOT}/bench/LoggerBench.cpp $<TARGET_OBJECTS:qv_base>)
target_include_directories(qv_logger_bench PRIVATE ${QV_INCLUDE_DIRS})
target_include_directories(qv_logger_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_link_libraries(qv_logger_bench PRIVATE benchmark::benchmark ${QV_LINUX_LIBS})

# --- Compound-file engine: open + read / replace a small stream, 50 KB vs 200 MB
if(TARGET qv_base)
  add_executable(qv_cfb_bench ${QV_ROOT}/bench/CfbBench.cpp $<TARGET_OBJECTS:qv_base>)
  target_include_directories(qv_cfb_bench PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(qv_cfb_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  target_link_libraries(qv_cfb_bench PRIVATE benchmark::benchmark ${QV_LINUX_LIBS})
endif()

# --- Property sets: user-defined sets of 1,000 to 4,000 properties on a document
if(TARGET qv_base)
  add_executable(qv_props_bench ${QV_ROOT}/bench/PropsBench.cpp $<TARGET_OBJECTS:qv_base>)
  target_include_directories(qv_props_bench PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(qv_props_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  target_link_libraries(qv_props_bench PRIVATE benchmark::benchmark ${QV_LINUX_LIBS})
endif()

# --- Registry: RegSetValueExW per second, one process and four at once -------
if(TARGET qv_base)
  add_executable(qv_registry_bench ${QV_ROOT}/bench/RegistryBench.cpp $<TARGET_OBJECTS:qv_base>)
  target_include_directories(qv_registry_bench PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(qv_registry_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  target_link_libraries(qv_registry_bench PRIVATE benchmark::benchmark ${QV_LINUX_LIBS})
endif()

# --- Folder change notification: a 10,000-file burst in new folders, and the delay
if(TARGET qv_base)
  add_executable(qv_dirwatch_bench ${QV_ROOT}/bench/DirWatchBench.cpp $<TARGET_OBJECTS:qv_base>)
  target_include_directories(qv_dirwatch_bench PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(qv_dirwatch_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  target_link_libraries(qv_dirwatch_bench PRIVATE ${QV_LINUX_LIBS})
endif()

# --- Data protection: protect + unprotect of a 64-byte secret, per second
if(TARGET qv_base)
  add_executable(qv_protect_bench ${QV_ROOT}/bench/ProtectBench.cpp $<TARGET_OBJECTS:qv_base>)
  target_include_directories(qv_protect_bench PRIVATE ${QV_INCLUDE_DIRS})
  target_include_directories(qv_protect_bench SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
  target_link_libraries(qv_protect_bench PRIVATE benchmark::benchmark ${QV_LINUX_LIBS})
endif()
