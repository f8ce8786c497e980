# The Windows bundle (target windows_bundle, after a full build):
# quorvane-<version>-windows.zip with both DLLs in the folders the native jar
# names them by, every jar the build makes but the tests' and the native
# jar (which would carry the DLLs a second time), docprops.cmd, README and
# LICENSE. Runs as a script (cmake -P) at build time so that it
# takes the jars that are there then.
# usage: cmake -DSTAGE=dir -DOUT=zip -DDLL32=dll -DDLL64=dll -DJARS=dir -DROOT=src
#              -DJAR_TOOL=jar -DDATE=iso-8601 -P WindowsBundle.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  get_filename_component(stage_parent ${STAGE} DIRECTORY)
  get_filename_component(stage_name ${STAGE} NAME)
  file(REMOVE_RECURSE ${STAGE})
  file(MAKE_DIRECTORY ${STAGE}/win32-x86 ${STAGE}/win32-x86-64)
  file(COPY_FILE ${DLL32} ${STAGE}/win32-x86/quorvane.dll)
  file(COPY_FILE ${DLL64} ${STAGE}/win32-x86-64/quorvane.dll)
  file(GLOB jars ${JARS}/*.jar)
  # Not the tests' jar, nor the native jar: the DLLs are here already.
  list(FILTER jars EXCLUDE REGEX "-(tests|native)\\.jar$")
  file(COPY ${jars} ${ROOT}/README.md ${ROOT}/LICENSE DESTINATION ${STAGE})
  # cmd.exe reads a batch file by lines ending in CR LF.
  file(READ ${ROOT}/tools/launchers/docprops.cmd launcher)
  string(REPLACE "\n" "\r\n" launcher "${launcher}")
  file(WRITE ${STAGE}/docprops.cmd "${launcher}")
  file(REMOVE ${OUT})
  # jar writes no owner, mode or local time, unlike cmake -E tar: every entry
  # dated DATE, in sorted order, whatever the umask, clock and folder.
  file(GLOB_RECURSE entries RELATIVE ${stage_parent} ${STAGE}/*)
  list(SORT entries)
  set(arguments)
  foreach(entry IN LISTS entries)
    list(APPEND arguments -C ${stage_parent} ${entry})
  endforeach()
  execute_process(COMMAND ${JAR_TOOL} --create --no-manifest --date=${DATE} --file ${OUT} ${arguments}
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

if(NOT (QV_WINDOWS_DLL AND QV_WINDOWS_DLL_X64))
  return()
endif()
set(QV_BUNDLE_NAME quorvane-${QV_VERSION}-windows)
add_custom_target(windows_bundle
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${CMAKE_BINARY_DIR}/bundle/${QV_BUNDLE_NAME}
          -DOUT=${CMAKE_BINARY_DIR}/${QV_BUNDLE_NAME}.zip -DDLL32=${QV_WINDOWS_DLL} -DDLL64=${QV_WINDOWS_DLL_X64}
          -DJARS=${CMAKE_BINARY_DIR}/java -DROOT=${QV_ROOT} -DJAR_TOOL=${QV_JAR_TOOL} -DDATE=${QV_ARCHIVE_DATE}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS quorvane_client quorvane_tools
  VERBATIM)
