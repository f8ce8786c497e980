# Run by cpack between installing into its staging folder and packing it
# (CPACK_PRE_BUILD_SCRIPTS). Every entry of the package carries the build's
# time: cpack dates members and files by $SOURCE_DATE_EPOCH when set. The
# folders install made carry the umask's mode; as packaged they are 0755.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_QV_SOURCE_DATE_EPOCH})
file(GLOB_RECURSE qv_staged LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(path IN LISTS qv_staged)
  if(IS_DIRECTORY ${path} AND NOT IS_SYMLINK ${path})
    file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
