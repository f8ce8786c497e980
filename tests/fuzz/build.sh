#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
#   tests/fuzz/build.sh [out-dir] [target...]     (default: build/fuzz, every target)
# Run one, e.g. for at most 60 s in CI:
#   build/fuzz/settings_fuzz -max_total_time=60 -max_len=4096 tests/fuzz/corpus/settings
#   build/fuzz/message_format_fuzz -max_total_time=60 tests/fuzz/corpus/message_format
#   build/fuzz/pe_version_fuzz -max_total_time=60 -max_len=16384 tests/fuzz/corpus/pe_version
#   build/fuzz/cfb_fuzz -max_total_time=60 -max_len=65536 <work-corpus> ../shared/fixtures/compound
# or simply: tests/fuzz/run.sh <out-dir> <target> <seconds>
# (a copy of the corpus folder keeps the checked-in seeds unchanged.)
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
    props_fuzz)
      echo native/platform/posix/storage/props/*.cpp native/platform/posix/CodePages.cpp \
           native/common/Utf16.cpp native/platform/posix/kernel/LastError.cpp ;;
    cfb_fuzz)
      echo native/platform/posix/storage/cfb/{CfbFormat,FileIo,Fat,Tables,View,Update,ShareLocks,ReadCache,CompoundFile}.cpp \
           native/platform/posix/ErrnoMapping.cpp native/platform/posix/kernel/LastError.cpp ;;
  esac
}

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(settings_fuzz message_format_fuzz cfb_fuzz props_fuzz pe_version_fuzz)
for t in "${targets[@]}"; do
  echo "building $t"
  # shellcheck disable=SC2046
  clang++ "${flags[@]}" "tests/fuzz/$t.cpp" $(sources_for "$t") -o "$out/$t" -lpthread -lrt
done
