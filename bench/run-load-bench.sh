#!/usr/bin/env bash
# How long System.loadLibrary("quorvane") takes in a fresh JVM (each sample
# is a new JVM, as a library loads once per process), a bare dlopen of the
# same file from a small C program, and NativeLibrary.load() from
# quorvane-native.jar with a warm cache and with the library of its version on
# java.library.path (the goal: the jar at most 10 ms over System.loadLibrary):
# median and best in ms over RUNS
# samples, with the libraries the load pulls in. With --against COMMIT the
# library of that commit is built in a temporary folder and measured the
# same way, for a before/after. Not part of the test run.
# usage: bench/run-load-bench.sh [BUILD_DIR] [--runs N] [--against COMMIT]
#   (default build/release, its library built here when missing; 25 runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release runs=25 against=
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --against) against=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
[ -f "$build/lib/libquorvane.so" ] || (cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release --target quorvane >/dev/null)
jdk=/usr/lib/jvm/java-17-openjdk-amd64/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The logger reads its settings at load: a private home keeps the user's out.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
mkdir -p "$HOME"
"$jdk/javac" -d "$work/classes" "$root/bench/java/LoadBench.java"
cc -O2 -o "$work/dlopen-bench" "$root/bench/DlopenBench.c" -ldl

# "median best" of the numbers on standard input.
stats() { sort -n | awk '{v[NR]=$1} END{m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "median %7.2f ms  best %7.2f ms", m, v[1]}'; }

measure() {  # LABEL LIBRARY_DIR
  local lib=$2/libquorvane.so
  printf '%s: %s\n' "$1" "$lib"
  printf '  DT_NEEDED %2d, objects loaded with it %2d\n' "$(readelf -d "$lib" | grep -c NEEDED)" \
    "$(ldd "$lib" | grep -vc 'linux-vdso')"
  # One untimed run of each first, so every sample reads the files from the page cache.
  "$work/dlopen-bench" "$lib" >/dev/null
  "$jdk/java" -Xshare:auto -cp "$work/classes" -Djava.library.path="$2" LoadBench >/dev/null
  printf '  System.loadLibrary  %s\n' "$(for _ in $(seq "$runs"); do
    "$jdk/java" -Xshare:auto -cp "$work/classes" -Djava.library.path="$2" LoadBench; done | stats)"
  printf '  dlopen              %s\n' "$(for _ in $(seq "$runs"); do "$work/dlopen-bench" "$lib"; done | stats)"
  # From quorvane-native.jar with its copy already cached (the first run makes it).
  local jar=$build/java/quorvane-native.jar
  if [ -f "$jar" ]; then
    "$jdk/java" -Xshare:auto -cp "$work/classes:$jar" -Djava.library.path=/nonexistent LoadBench jar >/dev/null
    printf '  the jar, warm cache %s\n' "$(for _ in $(seq "$runs"); do
      "$jdk/java" -Xshare:auto -cp "$work/classes:$jar" -Djava.library.path=/nonexistent LoadBench jar; done | stats)"
    # The jar again, with the library of its version on java.library.path: its version is read, then it loads.
    printf '  the jar, installed  %s\n' "$(for _ in $(seq "$runs"); do
      "$jdk/java" -Xshare:auto -cp "$work/classes:$jar" -Djava.library.path="$2" LoadBench jar; done | stats)"
  fi
}

echo "$runs fresh processes each; load: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$against" ]; then
  git -C "$root" archive --prefix=src/ "$against" | tar -x -C "$work"
  cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF -DQV_BENCH=OFF >/dev/null
  cmake --build "$work/build" --target quorvane -j2 >/dev/null
  measure "$against" "$work/build/lib"
fi
measure "$(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- native cmake || echo +)" "$build/lib"
