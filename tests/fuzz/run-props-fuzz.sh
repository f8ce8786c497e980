#!/usr/bin/env bash
# Builds the property-set codec fuzz target with clang (libFuzzer + ASan +
# UBSan) and runs it on a copy of the seed corpus for SECONDS (default 60).
# usage: tests/fuzz/run-props-fuzz.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
out=${2:-$root/build/fuzz}
mkdir -p "$out/props-corpus"
cp -n "$root"/tests/fuzz/corpus/props/* "$out/props-corpus/" 2>/dev/null || true
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root/native/platform" -I"$root/native/common" \
  "$root/tests/fuzz/props_fuzz.cpp" "$root"/native/platform/posix/storage/props/*.cpp \
  "$root/native/platform/posix/CodePages.cpp" "$root/native/common/Utf16.cpp" \
  "$root/native/platform/posix/kernel/LastError.cpp" -o "$out/props_fuzz"
cd "$out"
./props_fuzz -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=1 props-corpus
