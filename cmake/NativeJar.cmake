# Makes quorvane-native.jar from the loader's jar and the libraries, each at
# <folder>/<file>, and a class Contents naming the version and each library's
# SHA-256, which the loader checks every cached copy against.
# Every entry is dated DATE and they come in the order LIBRARIES names them.
# usage: cmake -DJAR_TOOL=jar -DJAVAC=javac -DVERSION=x.y.z -DDATE=iso-8601 -DLOADER=loader.jar
#              -DOUTPUT=out.jar -DSTAGE=dir -DLIBRARIES="folder/file=path|..." -P NativeJar.cmake
file(REMOVE_RECURSE ${STAGE})
string(REPLACE "|" ";" libraries "${LIBRARIES}")
set(cases "")
set(entries)
foreach(entry IN LISTS libraries)
  string(REGEX MATCH "^([^=]+)=(.+)$" matched "${entry}")
  cmake_path(GET CMAKE_MATCH_1 PARENT_PATH folder)
  file(MAKE_DIRECTORY ${STAGE}/${folder})
  file(COPY_FILE ${CMAKE_MATCH_2} ${STAGE}/${CMAKE_MATCH_1})
  file(SHA256 ${CMAKE_MATCH_2} hash)
  string(APPEND cases "            case \"${CMAKE_MATCH_1}\": return \"${hash}\";\n")
  list(APPEND entries -C ${STAGE} ${CMAKE_MATCH_1})
endforeach()
file(WRITE ${STAGE}-src/com/quorvane/nativelib/Contents.java
"package com.quorvane.nativelib;

/** Made when quorvane-native.jar was assembled: what it carries. */
final class Contents {
    private Contents() {
    }

    static String version() {
        return \"${VERSION}\";
    }

    static String sha256(String resource) {
        switch (resource) {
${cases}            default: return null;
        }
    }
}
")
execute_process(COMMAND ${JAVAC} --release 17 -XDstringConcat=inline -d ${STAGE}
                        ${STAGE}-src/com/quorvane/nativelib/Contents.java COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${STAGE}-src)
list(APPEND entries -C ${STAGE} com/quorvane/nativelib/Contents.class)
file(COPY_FILE ${LOADER} ${OUTPUT}.part)
execute_process(COMMAND ${JAR_TOOL} --update --date=${DATE} --file ${OUTPUT}.part ${entries} COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUTPUT}.part ${OUTPUT})
