#!/usr/bin/env bash
# The shipped binaries keep their hardening (cmake/Hardening.cmake), each row
# printing the property it checks; no file may hold the folder it was built in
# (QV_SOURCE_DIR, or the file's own), or the build id and debuglink's checksum
# would depend on where the tree lies. Lists every property that is missing.
# usage: [QV_SOURCE_DIR=dir] check-hardening.sh VERSION libquorvane.so quorvane-reg quorvane.dll...
set -u
version=$1
shift
status=0
# One row: FILE, the property, and the command that holds when it is there.
row() {
  local file=$1 what=$2
  shift 2
  if "$@" >/dev/null 2>&1; then echo "ok      $file: $what"
  else echo "MISSING $file: $what"; status=1; fi
}
has() { grep -Eq -- "$2" <<<"$1"; }
lacks() { ! grep -Eq -- "$2" <<<"$1"; }
every() { [ -n "$1" ] && ! grep -Evq -- "$2" <<<"$1"; }
# No folder of the build in the file or its debug symbols.
placeless() {
  local file=$1 folder
  for folder in ${QV_SOURCE_DIR:+"$QV_SOURCE_DIR"} "$(dirname "$(realpath "$file")")"; do
    ! strings -a "$file" "$file.debug" | grep -Fq -- "$folder" || return 1
  done
}
# The compiler's flags of each of our (C++) compile units, from the debug
# file; the C runtime's own units are not ours to harden.
producers() { "$@" 2>/dev/null | grep 'DW_AT_producer.*GNU C++'; }

elf_rows() {
  local elf=$1 dynamic segments sections imports units
  dynamic=$(readelf -dW "$elf") segments=$(readelf -lW "$elf")
  sections=$(readelf -SW "$elf") imports=$(nm -D --undefined-only "$elf")
  row "$elf" "stack protector (__stack_chk_fail)" has "$imports" ' __stack_chk_fail'
  row "$elf" "_FORTIFY_SOURCE (_chk calls)" has "$imports" ' __[a-z0-9_]+_chk(@|$)'
  # Debian 12's crti.o has no CET note, so no binary can have one: the
  # flag is read from each unit's producer instead.
  units=$(producers readelf --debug-dump=info --dwarf-depth=1 "$elf.debug")
  row "$elf" "every unit: -fstack-protector-strong" every "$units" ' -fstack-protector-strong'
  row "$elf" "every unit: -fcf-protection" every "$units" ' -fcf-protection'
  row "$elf" "RELRO" has "$segments" 'GNU_RELRO'
  row "$elf" "BIND_NOW" has "$dynamic" '\(FLAGS\).*BIND_NOW'
  row "$elf" "stripped" lacks "$sections" '\] \.(symtab|debug_info) '
  row "$elf" "debuglink to $(basename "$elf").debug" has "$(readelf -p .gnu_debuglink "$elf")" \
    "\] +$(basename "$elf").debug$"
  row "$elf.debug" "debug symbols" has "$(readelf -SW "$elf.debug" 2>&1)" '\] \.debug_info '
  row "$elf" "no build folder in it or its .debug (reproducible)" placeless "$elf"
  if [[ "$elf" == *.so ]]; then
    row "$elf" "version in .comment" has "$(readelf -p .comment "$elf")" "\] +quorvane $version$"
  else
    row "$elf" "position-independent executable" has "$(readelf -hW "$elf")" 'Type: +DYN'
    row "$elf" "PIE flag" has "$dynamic" '\(FLAGS_1\).*PIE'
  fi
}

dlls=()
for file in "$@"; do
  case "$(head -c 4 "$file" | od -An -tx1 | tr -d ' ')" in
    7f454c46) elf_rows "$file" ;;
    *) dlls+=("$file") ;;
  esac
done

for dll in "${dlls[@]}"; do
  headers=$(x86_64-w64-mingw32-objdump -p "$dll") sections=$(x86_64-w64-mingw32-objdump -h "$dll")
  row "$dll" "ASLR (DYNAMIC_BASE)" has "$headers" $'^\t+DYNAMIC_BASE$'
  row "$dll" "DEP (NX_COMPAT)" has "$headers" $'^\t+NX_COMPAT$'
  row "$dll" "no link time stamp (reproducible)" has "$headers" $'^Time/Date\t+Thu Jan  1 00:00:00 1970$'
  if has "$headers" 'pei-x86-64'; then
    row "$dll" "high-entropy ASLR (HIGH_ENTROPY_VA)" has "$headers" $'^\t+HIGH_ENTROPY_VA$'
  fi
  text=$(strings -a "$dll")
  row "$dll" "every unit: -fstack-protector-strong" every \
    "$(producers x86_64-w64-mingw32-objdump --dwarf=info --dwarf-depth=1 "$dll.debug")" ' -fstack-protector-strong'
  row "$dll" "stack protector (libssp)" has "$text" 'stack smashing detected'
  row "$dll" "_FORTIFY_SOURCE (libssp)" has "$text" 'buffer overflow detected'
  row "$dll" "stripped" lacks "$sections" ' \.debug_info '
  row "$dll" "debuglink to $(basename "$dll").debug" has "$sections" ' \.gnu_debuglink '
  row "$dll.debug" "debug symbols" has "$(x86_64-w64-mingw32-objdump -h "$dll.debug" 2>&1)" ' \.debug_info '
  row "$dll" "no build folder in it or its .debug (reproducible)" placeless "$dll"
  row "$dll" "version resource" has "$(strings -a -el "$dll" | grep -A1 -x FileVersion)" "^$version$"
done
exit $status
