#!/usr/bin/env bash
# One Wine prefix per test run and build, one server kept up, no prompts.
# usage: wine.sh create STATE_FILE i686|x86_64
#        wine.sh remove STATE_FILE
#        wine.sh run STATE_FILE PROGRAM [ARGS...]  (absolute Unix paths in ARGS become Z: paths)
# A machine whose kernel cannot execute 32-bit programs cannot start Wine's
# 32-bit loader: there `create i686` records why, and it and every `run` on
# that state exit 77, which the tests take as skipped. QV_WINE_LOADER names
# another loader (the test of that detection uses one no kernel runs).
set -euo pipefail
action=$1 state=$2
shift 2
# No debugger on a fault: winedbg would keep the faulting program's output
# open, and the test reading it would wait for it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
readonly kSkip=77

# The state file: the prefix, then the loader; or "skip" and the reason.
read_state() {
  [ -s "$state" ] || { echo "no Wine prefix: $state is missing (the wine.*.prefix test makes it)"; exit 1; }
  { read -r WINEPREFIX; read -r loader; } <"$state"
  if [ "$WINEPREFIX" = skip ]; then
    echo "SKIPPED: $loader"
    exit $kSkip
  fi
  export WINEPREFIX
  [ "$(basename "$loader")" != wine64 ] || export WINELOADER=$loader
}

case "$action" in
  create)
    arch=$1
    [ ! -s "$state" ] || bash "$0" remove "$state" >/dev/null || true
    case "$arch" in
      i686) loader=${QV_WINE_LOADER:-/usr/lib/wine/wine} ;;
      x86_64) loader=${QV_WINE_LOADER:-/usr/lib/wine/wine64} ;;
      *) echo "unknown Windows build: $arch" >&2; exit 2 ;;
    esac
    if ! why=$("$loader" --version 2>&1 >/dev/null); then
      [ "$arch" = i686 ] && [[ "$why" == *"Exec format error"* ]] || { echo "$loader does not start: $why"; exit 1; }
      printf 'skip\n%s\n' "the $arch Windows suite cannot run here: this machine's kernel does not execute 32-bit programs, so Wine's 32-bit loader does not start ($loader: Exec format error)" >"$state"
      exec bash "$0" run "$state" -
    fi
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
    printf '%s\n%s\n' "$WINEPREFIX" "$loader" >"$state"
    read_state
    # The 64-bit prefix's own 32-bit half may fail to set up where no
    # 32-bit program runs; the 64-bit programs do not need it.
    [ "$arch" = i686 ] || export WINEARCH=win64
    "$loader" wineboot -i
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1  # one server for the whole run
    echo "Wine prefix $WINEPREFIX for $arch ($("$loader" --version))"
    ;;
  remove)
    [ -s "$state" ] || exit 0
    WINEPREFIX=$(head -n 1 "$state")
    if [ "$WINEPREFIX" = skip ]; then
      rm -f "$state"
      exit $kSkip  # nothing was made: the suite's last test is skipped too
    fi
    export WINEPREFIX
    wineserver -k 2>/dev/null || true
    case "$WINEPREFIX" in */qv-wine.*) rm -rf "$WINEPREFIX" ;; esac
    rm -f "$state"
    ;;
  run)
    read_state
    program=$1 args=()
    shift
    for a in "$@"; do
      case "$a" in /*) args+=("Z:$a") ;; *) args+=("$a") ;; esac
    done
    # Through a file: Wine's helper processes outlive the program and would hold the caller's pipe open.
    out=$(mktemp "$WINEPREFIX/output.XXXXXX")
    status=0
    "$loader" "$program" "${args[@]}" >"$out" 2>&1 </dev/null || status=$?
    cat "$out"
    rm -f "$out"
    exit "$status"
    ;;
  *) echo "usage: $0 create|remove|run STATE_FILE ..." >&2; exit 2 ;;
esac
