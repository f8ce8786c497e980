# Hardening of what we ship: the flags Debian's dpkg-buildflags sets for a
# release build, and their mingw-w64 equivalents for the DLLs. The library
# parses documents from anywhere. Debug symbols go to a file of their own
# beside each shipped binary (<file>.debug, named by its GNU debuglink).
# tests/hardening/check-hardening.sh keeps these properties from regressing.
include_guard(GLOBAL)

# _FORTIFY_SOURCE needs the optimiser; in a debug build it only warns.
set(QV_HARDEN_COMPILE -g -fstack-protector-strong -Wformat -Werror=format-security
    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
if(WIN32)
  # The stack protector's and fortify's helpers come from libssp, linked
  # statically with the rest of the runtime. ld's PE defaults already set
  # these characteristics; saying them keeps them.
  set(QV_HARDEN_LINK -fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND QV_HARDEN_LINK -Wl,--high-entropy-va)
  endif()
else()
  list(APPEND QV_HARDEN_COMPILE -fcf-protection)
  set(QV_HARDEN_LINK -Wl,-z,relro -Wl,-z,now)
endif()

# Code of ours that ends up in a shipped binary.
function(qv_harden_objects target)
  target_compile_options(${target} PRIVATE ${QV_HARDEN_COMPILE})
endfunction()

# A shipped binary: hardened, stripped, its symbols in <file>.debug. On a
# PE file objcopy writes the time into the headers unless SOURCE_DATE_EPOCH
# says otherwise: 0, as the linker leaves it (--no-insert-timestamp).
function(qv_harden_binary target)
  qv_harden_objects(${target})
  target_link_options(${target} PRIVATE ${QV_HARDEN_LINK})
  set(file $<TARGET_FILE:${target}>)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug ${file} ${file}.debug
    COMMAND ${objcopy} --strip-unneeded --add-gnu-debuglink=${file}.debug ${file}
    VERBATIM)
endfunction()
