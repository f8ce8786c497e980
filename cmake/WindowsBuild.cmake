# Windows, 32-bit (i686) or 64-bit (x86_64): quorvane.dll against the real Windows API.
enable_language(RC)
set(QV_JDK_INCLUDE /usr/lib/jvm/java-17-openjdk-amd64/include CACHE PATH "JDK include folder holding jni.h")

# Boost is header-only here; expose just boost/ so no host header leaks into the cross-build.
set(QV_BOOST_SHIM ${CMAKE_BINARY_DIR}/boost-shim)
file(MAKE_DIRECTORY ${QV_BOOST_SHIM})
file(CREATE_LINK /usr/include/boost ${QV_BOOST_SHIM}/boost SYMBOLIC)

# On i686 every native method is exported as _Java_..._m@N (stdcall
# decorated, as the JVM looks it up first) and as the undecorated
# Java_..._m; linking fails when the compiler's N differs from the table's,
# which is what keeps N honest. x64 has one calling convention and no
# decoration: the plain names only.
set(QV_DEF ${CMAKE_BINARY_DIR}/quorvane.def)
set(qv_def "LIBRARY quorvane.dll\nEXPORTS\n")
foreach(table_class IN ITEMS "${QV_EXPORTS_TABLE}|com_quorvane_infrastructure_os_windows_Win32Impl"
                             "${QV_TOOL_EXPORTS_TABLE}|com_quorvane_tools_TypedProperties")
  string(REPLACE "|" ";" table_class "${table_class}")
  list(GET table_class 0 table)
  list(GET table_class 1 class)
  file(STRINGS ${table} qv_export_lines REGEX "^[A-Za-z]")
  foreach(line IN LISTS qv_export_lines)
    string(REGEX MATCH "^([A-Za-z0-9_]+)[ \t]+([0-9]+)" _ "${line}")
    set(sym "Java_${class}_${CMAKE_MATCH_1}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND qv_def "  _${sym}@${CMAKE_MATCH_2} = ${sym}@${CMAKE_MATCH_2}\n")
      string(APPEND qv_def "  ${sym} = ${sym}@${CMAKE_MATCH_2}\n")
    else()
      string(APPEND qv_def "  ${sym}\n")
    endif()
  endforeach()
endforeach()
file(GENERATE OUTPUT ${QV_DEF} CONTENT "${qv_def}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QV_EXPORTS_TABLE} ${QV_TOOL_EXPORTS_TABLE})

# Settings every Windows target of the tree compiles with.
function(qv_windows_target name)
  target_include_directories(${name} BEFORE PRIVATE ${QV_ROOT}/native/jni/win32)
  target_include_directories(${name} PRIVATE ${QV_INCLUDE_DIRS} ${QV_JDK_INCLUDE})
  target_include_directories(${name} SYSTEM PRIVATE ${QV_BOOST_SHIM})
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601)
  target_compile_options(${name} PRIVATE -Wall -Wno-unused-parameter)
  # Hardened objects need libssp wherever they are linked.
  qv_harden_objects(${name})
  target_link_options(${name} PRIVATE ${QV_HARDEN_LINK})
endfunction()

# The core once, for the DLL and the Wine test programs.
add_library(qv_win_common OBJECT ${QV_COMMON_SOURCES})
qv_windows_target(qv_win_common)

add_library(quorvane SHARED $<TARGET_OBJECTS:qv_win_common> ${QV_JNI_SOURCES} ${QV_NATIVES_SOURCES}
            ${QV_JNI_WIN32_SOURCES} ${QV_DEF} ${QV_VERSION_SOURCE})
set_target_properties(quorvane PROPERTIES PREFIX "" OUTPUT_NAME quorvane)
qv_windows_target(quorvane)
set(QV_WINDOWS_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
target_link_options(quorvane PRIVATE ${QV_WINDOWS_STATIC_RUNTIME})
# Windows 7 (6.1) is the oldest that has what the DLL imports (K32EnumProcesses
# and the like); the headers say so rather than the toolchain's 4.0.
target_link_options(quorvane PRIVATE -Wl,--major-os-version,6,--minor-os-version,1
                    -Wl,--major-subsystem-version,6,--minor-subsystem-version,1)
# No link time in the headers: the same sources make the same DLL.
target_link_options(quorvane PRIVATE -Wl,--no-insert-timestamp)
# Libraries of the Windows API subset; subsystems append to it.
set(QV_WINDOWS_LIBS crypt32 shell32 rpcrt4 ole32 oleaut32 uuid advapi32 user32 ws2_32 psapi version wininet kernel32)
target_link_libraries(quorvane PRIVATE ${QV_WINDOWS_LIBS})
qv_harden_binary(quorvane)

include(WineTests)
