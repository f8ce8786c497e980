#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer);
# tests/fuzz/run.sh runs one on a scratch copy of its seeds.
# usage: tests/fuzz/build.sh [OUT_DIR] [TARGET...]   (default: build/fuzz, every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build/fuzz}
shift || true
mkdir -p "$out"
cd "$root"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -Inative/platform -Inative/common)

# Sources each target needs besides its own file (add a case for a new target).
sources_for() {
  case "$1" in
    settings_fuzz)
      echo native/common/PropertiesFile.cpp native/platform/posix/{FileApi,ErrnoMapping,FileSystemText,StringApi}.cpp \
           native/platform/posix/files/{CreateFile,OpenFile,DirectoryWatch,ChangeRecords}.cpp native/platform/posix/storage/cfb/ShareLocks.cpp \
           native/platform/posix/kernel/{HandleTable,Handles,Clock,LastError}.cpp ;;
    message_format_fuzz)
      echo native/common/MessageFormatter.cpp native/common/Utf16.cpp \
           native/platform/posix/{MessageFormat,LocalMemory,CodePages,ErrnoMapping}.cpp \
           native/platform/posix/text/{SystemMessages,Win32Messages,HResultMessages}.cpp \
           native/platform/posix/kernel/LastError.cpp ;;
    pe_version_fuzz)
      echo native/platform/posix/version/PeVersionResource.cpp ;;
    netrc_fuzz)
      echo native/platform/posix/inet/Netrc.cpp ;;
    props_fuzz)
      echo native/platform/posix/storage/props/*.cpp native/platform/posix/CodePages.cpp \
           native/common/Utf16.cpp native/platform/posix/kernel/LastError.cpp ;;
    cfb_fuzz)
      echo native/platform/posix/storage/cfb/{CfbFormat,FileIo,Fat,Tables,View,Update,ShareLocks,ReadCache,CompoundFile}.cpp \
           native/platform/posix/ErrnoMapping.cpp native/platform/posix/kernel/LastError.cpp ;;
  esac
}

[ $# -gt 0 ] || set -- settings_fuzz message_format_fuzz cfb_fuzz props_fuzz pe_version_fuzz netrc_fuzz
for t in "$@"; do
  echo "building $t"
  # shellcheck disable=SC2046
  clang++ "${flags[@]}" "tests/fuzz/$t.cpp" $(sources_for "$t") -o "$out/$t" -lpthread -lrt
done
