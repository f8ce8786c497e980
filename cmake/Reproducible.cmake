# The same sources make the same bytes, whenever and wherever they are built.
# QV_SOURCE_DATE_EPOCH is the one time every archive entry and packaged file
# carries: $SOURCE_DATE_EPOCH when set, else the last commit's time, else a
# fixed time (a source tree outside git). QV_ARCHIVE_DATE is it for jar
# --date, never before the earliest time a zip entry can hold.
# tests/package/check-reproducible.sh repackages and compares.
include_guard(GLOBAL)

if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(QV_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE QV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE qv_git_failed ERROR_QUIET)
  if(qv_git_failed OR NOT QV_SOURCE_DATE_EPOCH)
    set(QV_SOURCE_DATE_EPOCH 1704067200)  # 2024-01-01T00:00:00Z
  endif()
endif()
if(NOT QV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${QV_SOURCE_DATE_EPOCH}\", not seconds since 1970")
endif()
# For tests/package/check-reproducible.sh, which checks the dates.
set(QV_SOURCE_DATE_EPOCH ${QV_SOURCE_DATE_EPOCH} CACHE INTERNAL "The time the archives and the package carry")

# string(TIMESTAMP) formats $SOURCE_DATE_EPOCH when it is set.
set(qv_zip_epoch ${QV_SOURCE_DATE_EPOCH})
if(qv_zip_epoch LESS 315532802)  # 1980-01-01T00:00:02Z
  set(qv_zip_epoch 315532802)
endif()
set(qv_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${qv_zip_epoch})
string(TIMESTAMP QV_ARCHIVE_DATE "%Y-%m-%dT%H:%M:%SZ" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${qv_saved_epoch}")
if(qv_saved_epoch STREQUAL "")
  unset(ENV{SOURCE_DATE_EPOCH})
endif()

# No build folder in the objects (debug info, __FILE__), so the build id and
# the debuglink's checksum do not depend on where the tree was built. The
# last matching map wins: the build folder may lie inside the sources.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=." "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")

