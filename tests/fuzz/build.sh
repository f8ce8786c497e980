#!/usr/bin/env bash
# Builds the libFuzzer targets with ASan and UBSan. usage: build.sh [OUT_DIR (build/fuzz)] [TARGET... (all)]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build/fuzz}
shift || true
mkdir -p "$out"
cd "$root"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -Inative/platform -Inative/common)

p=native/platform/posix
[ $# -gt 0 ] || set -- settings_fuzz message_format_fuzz cfb_fuzz props_fuzz pe_version_fuzz netrc_fuzz
for t in "$@"; do
  # The sources each target needs besides its own file (add a case for a new target).
  case "$t" in
    settings_fuzz) sources=(native/common/PropertiesFile.cpp $p/files/FileApi.cpp $p/base/ErrnoMapping.cpp $p/text/{FileSystemText,StringApi}.cpp
                            $p/files/{CreateFile,OpenFile,DirectoryWatch,ChangeRecords,Folders}.cpp
                            $p/kernel/{HandleTable,Handles,Clock,LastError}.cpp $p/storage/cfb/ShareLocks.cpp) ;;
    message_format_fuzz) sources=(native/common/{MessageFormatter,Utf16}.cpp $p/kernel/LastError.cpp
                                  $p/text/{MessageFormat,CodePages}.cpp $p/kernel/LocalMemory.cpp $p/base/ErrnoMapping.cpp
                                  $p/text/{SystemMessages,Win32Messages,HResultMessages}.cpp) ;;
    pe_version_fuzz) sources=($p/version/{PeVersionResource,VersionApi}.cpp $p/text/FileSystemText.cpp $p/base/ErrnoMapping.cpp
                         $p/kernel/LastError.cpp $p/text/UiLanguage.cpp) ;;
    netrc_fuzz) sources=($p/inet/Netrc.cpp) ;;
    props_fuzz) sources=($p/storage/props/*.cpp $p/storage/StreamStore.cpp $p/text/{CodePages,StringCompare}.cpp native/common/Utf16.cpp
                         $p/kernel/LastError.cpp) ;;
    cfb_fuzz) sources=($p/storage/cfb/{CfbFormat,FileIo,Fat,Tables,View,Update,ShareLocks,ReadCache,CompoundFile}.cpp $p/storage/StreamStore.cpp $p/process/SystemLog.cpp
                       $p/base/ErrnoMapping.cpp $p/text/StringCompare.cpp $p/kernel/LastError.cpp) ;;
    *) echo "unknown target $t" >&2; exit 2 ;;
  esac
  echo "building $t"
  clang++ "${flags[@]}" "tests/fuzz/$t.cpp" "${sources[@]}" -o "$out/$t" -lpthread -lrt
done
