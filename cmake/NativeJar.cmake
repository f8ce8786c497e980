# Makes quorvane-native.jar from the loader's jar and the libraries, each at
# <folder>/<file> with its SHA-256 (hex) in <folder>/<file>.sha256, which the
# loader checks every cached copy against.
# Every entry is dated DATE and they come in the order LIBRARIES names them.
# usage: cmake -DJAR_TOOL=jar -DDATE=iso-8601 -DLOADER=loader.jar -DOUTPUT=out.jar -DSTAGE=dir
#              -DLIBRARIES="folder/file=path|..." -P NativeJar.cmake
file(REMOVE_RECURSE ${STAGE})
string(REPLACE "|" ";" libraries "${LIBRARIES}")
set(entries)
foreach(entry IN LISTS libraries)
  string(REGEX MATCH "^([^=]+)=(.+)$" matched "${entry}")
  cmake_path(GET CMAKE_MATCH_1 PARENT_PATH folder)
  file(MAKE_DIRECTORY ${STAGE}/${folder})
  file(COPY_FILE ${CMAKE_MATCH_2} ${STAGE}/${CMAKE_MATCH_1})
  file(SHA256 ${CMAKE_MATCH_2} hash)
  file(WRITE ${STAGE}/${CMAKE_MATCH_1}.sha256 "${hash}\n")
  list(APPEND entries -C ${STAGE} ${CMAKE_MATCH_1} -C ${STAGE} ${CMAKE_MATCH_1}.sha256)
endforeach()
file(COPY_FILE ${LOADER} ${OUTPUT}.part)
execute_process(COMMAND ${JAR_TOOL} --update --date=${DATE} --file ${OUTPUT}.part ${entries} COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUTPUT}.part ${OUTPUT})
