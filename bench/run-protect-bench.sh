#!/usr/bin/env bash
# Protect + unprotect of a 64-byte secret per second, through JNI
# (bench/java/ProtectBench.java) and natively (qv_protect_bench), one thread
# and eight, with the key file (no session bus) and with the Secret Service
# (a private dbus-daemon and gnome-keyring). Everything lives in a private
# HOME and XDG folders. With --unlocked (as root), the benches run as uid
# 65534 under `ulimit -l 0`, where the held key cannot be locked in memory.
# Not part of the test run.
# usage: bench/run-protect-bench.sh [--unlocked] [BUILD_DIR [SECONDS]]
#        (default build/release, built here when it lacks the jar)
set -euo pipefail
unlocked=
if [ "${1:-}" = --unlocked ]; then
  unlocked=1
  shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-3}
[ -f "$build/java/quorvane-client.jar" ] || (cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release --target quorvane quorvane_client qv_protect_bench >/dev/null)
jdk=/usr/lib/jvm/java-17-openjdk-amd64/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# Both benches with the store the environment gives, in a data folder of their own.
benches() {
  echo "JNI:"
  XDG_DATA_HOME=$work/$1-jni "$jdk/java" -Djava.library.path="$build/lib" -cp "$build/java/quorvane-client.jar" \
    "$root/bench/java/ProtectBench.java" "$seconds"
  if [ -x "$build/qv_protect_bench" ]; then
    echo "native:"
    XDG_DATA_HOME=$work/$1-native "$build/qv_protect_bench" --benchmark_min_time="$seconds"
  fi
}
export -f benches
export work build root jdk seconds

# Runs a shell command as the bench's user: this one, or uid 65534 without locked memory.
as_user() {
  if [ -n "$unlocked" ]; then
    chmod 755 "$work" && chown -R 65534:65534 "$work"
    setpriv --reuid=65534 --regid=65534 --clear-groups -- bash -c "ulimit -l 0 && echo '(uid 65534, ulimit -l 0)' && $1"
  else
    bash -c "$1"
  fi
}

echo "== key file"
DBUS_SESSION_BUS_ADDRESS= as_user 'benches file'
echo "== Secret Service"
XDG_DATA_HOME=$work/keyring as_user 'dbus-run-session -- bash -c "printf pw | gnome-keyring-daemon --unlock \
  --components=secrets >/dev/null && gdbus wait --session --timeout 10 org.freedesktop.secrets && benches service"'
