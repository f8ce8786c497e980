#!/usr/bin/env bash
# One Wine prefix per test run, one server kept up, no prompts. usage: wine.sh create|remove STATE_FILE
#        wine.sh run STATE_FILE PROGRAM [ARGS...]  (absolute Unix paths in ARGS become Z: paths)
set -euo pipefail
action=$1 state=$2
shift 2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  create)
    [ ! -s "$state" ] || "$0" remove "$state"
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
    export WINEPREFIX
    echo "$WINEPREFIX" >"$state"
    wineboot -i
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1  # one server for the whole run
    echo "Wine prefix $WINEPREFIX ($(wine --version))"
    ;;
  remove)
    [ -s "$state" ] || exit 0
    WINEPREFIX=$(cat "$state")
    export WINEPREFIX
    wineserver -k 2>/dev/null || true
    case "$WINEPREFIX" in */qv-wine.*) rm -rf "$WINEPREFIX" ;; esac
    rm -f "$state"
    ;;
  run)
    [ -s "$state" ] || { echo "no Wine prefix: $state is missing (the wine.prefix test makes it)"; exit 1; }
    WINEPREFIX=$(cat "$state")
    export WINEPREFIX
    program=$1 args=()
    shift
    for a in "$@"; do
      case "$a" in /*) args+=("Z:$a") ;; *) args+=("$a") ;; esac
    done
    # Through a file: Wine's helper processes outlive the program and would hold the caller's pipe open.
    out=$(mktemp "$WINEPREFIX/output.XXXXXX")
    status=0
    wine "$program" "${args[@]}" >"$out" 2>&1 </dev/null || status=$?
    cat "$out"
    rm -f "$out"
    exit "$status"
    ;;
  *) echo "usage: $0 create|remove|run STATE_FILE ..." >&2; exit 2 ;;
esac
