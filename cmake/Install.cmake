# cmake --install: the library where Debian's OpenJDK looks by default
# (lib/<multiarch>/jni is on its java.library.path), the jars in share/java,
# launchers with names no other package uses, and their man pages.
include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(QV_INSTALL_JNIDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni)
else()
  set(QV_INSTALL_JNIDIR ${CMAKE_INSTALL_LIBDIR}/jni)
endif()
set(QV_INSTALL_JARDIR ${CMAKE_INSTALL_DATADIR}/java)
set(QV_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/quorvane)

# The library and the tools come out of the build stripped (cmake/Hardening.cmake).
# A library is read, not run: 0644, as Debian's policy has it.
install(TARGETS quorvane LIBRARY DESTINATION ${QV_INSTALL_JNIDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(PROGRAMS $<TARGET_FILE:reg> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME quorvane-reg)
set(QV_STAGE ${CMAKE_BINARY_DIR}/install-stage)
file(MAKE_DIRECTORY ${QV_STAGE})
# The tools' jar needs the client's (Win32Impl); a Java program of one's own
# may use it too. Debian's Java policy: name-version.jar, and name.jar
# pointing to it for class paths.
foreach(jar quorvane_client quorvane_tools)
  get_target_property(file ${jar} JAR_FILE)
  get_filename_component(name ${file} NAME_WE)
  install(FILES ${file} DESTINATION ${QV_INSTALL_JARDIR} RENAME ${name}-${QV_VERSION}.jar)
  file(CREATE_LINK ${name}-${QV_VERSION}.jar ${QV_STAGE}/${name}.jar SYMBOLIC)
  install(FILES ${QV_STAGE}/${name}.jar DESTINATION ${QV_INSTALL_JARDIR})
endforeach()
# The shared libraries ours links, beside the C runtime's, by their soname
# links: docprops reads them ahead while the JVM starts.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so
                OUTPUT_VARIABLE qv_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
set(QV_READ_AHEAD_LIBS)
foreach(lib ${qv_libstdcxx} ${OPENSSL_CRYPTO_LIBRARY} ${SQLite3_LIBRARY})
  file(REAL_PATH ${lib} real)
  string(REGEX REPLACE "(\\.so\\.[0-9]+)[.0-9]*$" "\\1" soname ${real})
  string(APPEND QV_READ_AHEAD_LIBS " \"${soname}\"")
endforeach()
string(STRIP "${QV_READ_AHEAD_LIBS}" QV_READ_AHEAD_LIBS)
configure_file(${QV_ROOT}/tools/launchers/docprops.in ${QV_STAGE}/docprops @ONLY)
install(PROGRAMS ${QV_STAGE}/docprops DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages and the changelog, compressed as Debian wants them (gzip -9n:
# no name or time stamp inside, so the package builds reproducibly).
set(qv_compressed)
foreach(page docprops.1 quorvane-reg.1)
  configure_file(${QV_ROOT}/tools/man/${page} ${QV_STAGE}/${page} @ONLY)
  list(APPEND qv_compressed ${QV_STAGE}/${page})
endforeach()
configure_file(${QV_ROOT}/cmake/debian/changelog ${QV_STAGE}/changelog @ONLY)
list(APPEND qv_compressed ${QV_STAGE}/changelog)
set(qv_gz)
foreach(file IN LISTS qv_compressed)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file} VERBATIM)
  list(APPEND qv_gz ${file}.gz)
endforeach()
add_custom_target(quorvane_install_docs ALL DEPENDS ${qv_gz})
install(FILES ${QV_STAGE}/docprops.1.gz ${QV_STAGE}/quorvane-reg.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QV_STAGE}/changelog.gz ${QV_ROOT}/cmake/debian/copyright DESTINATION ${QV_INSTALL_DOCDIR})
