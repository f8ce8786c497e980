#!/usr/bin/env bash
# docprops.cmd under Wine's cmd.exe with a stand-in java.exe: it picks the
# DLL folder of the JVM's bitness, from the JVM's release file without
# starting it, or by asking a JVM that has none; every row counts the JVMs
# started and reads the library path the last one got.
# usage: docprops-cmd.sh WINE_SH STATE_FILE FAKE_JAVA_EXE LAUNCHER
set -euo pipefail
wine_sh=$1 state=$2 fake=$3 launcher=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows() { local p=${1//\//\\}; echo "Z:$p"; }
status=0
# name | release file's OS_ARCH line ("" for no file) | the JVM's answer | JVMs started | folder | found by
while IFS='|' read -r name release bits starts folder by; do
  row=$work/$starts-$folder-$RANDOM
  mkdir -p "$row/jdk/bin" "$row/bundle"
  cp "$fake" "$row/jdk/bin/java.exe"
  [ -z "$release" ] || printf 'IMPLEMENTOR="Stand-in"\r\n%s\r\nJAVA_VERSION="17"\r\n' "$release" >"$row/jdk/release"
  sed 's/$/\r/' "$launcher" >"$row/bundle/docprops.cmd"
  # JAVA_HOME, or Wine's PATH (WINEPATH goes before it).
  found=(JAVA_HOME="$(windows "$row/jdk")")
  [ "$by" = PATH ] && found=(-u JAVA_HOME WINEPATH="$(windows "$row/jdk/bin")")
  out=$(env "${found[@]}" QV_FAKE_JAVA_LOG="$(windows "$row/log")" QV_FAKE_JAVA_BITS="$bits" \
        bash "$wine_sh" run "$state" cmd /c "$(windows "$row/bundle/docprops.cmd")" show report.doc 2>&1) || true
  started=$( [ -f "$row/log" ] && grep -c . "$row/log" || echo 0)
  last=$( [ -f "$row/log" ] && tail -n 1 "$row/log" | tr -d '\r' || true)
  if [ "$started" = "$starts" ] && [[ "$last" == *"-Djava.library.path=$(windows "$row/bundle")\\$folder\""* ]] &&
     [[ "$last" == *"com.quorvane.tools.DocProps show report.doc"* ]]; then
    echo "ok   $name: $started JVM, $folder"
  else
    echo "FAIL $name: $started JVM (wanted $starts), last started as: $last"
    echo "$out" | sed 's/^/     /'
    status=1
  fi
done <<'ROWS'
a 64-bit JDK's release file: one JVM|OS_ARCH="x86_64"|32|1|win32-x86-64|JAVA_HOME
a 32-bit JDK's release file: one JVM|OS_ARCH="x86"|64|1|win32-x86|JAVA_HOME
a 64-bit JDK on the PATH, its release file: one JVM|OS_ARCH="x86_64"|32|1|win32-x86-64|PATH
a 64-bit JVM without a release file is asked||64|2|win32-x86-64|JAVA_HOME
a 32-bit JVM without a release file is asked||32|2|win32-x86|JAVA_HOME
ROWS
exit $status
