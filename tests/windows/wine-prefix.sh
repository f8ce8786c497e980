#!/usr/bin/env bash
# A Wine prefix in a temporary folder for one test run, with no Mono or
# Gecko prompts, and a wine server kept up until it is removed; STATE_FILE
# holds its path for wine-run.sh.
# usage: wine-prefix.sh create|remove STATE_FILE
set -euo pipefail
action=$1 state=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  create)
    [ ! -s "$state" ] || "$0" remove "$state"
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
    export WINEPREFIX
    echo "$WINEPREFIX" >"$state"
    wineboot -i
    wineserver -w
    # One server for the whole run rather than one start per program.
    wineserver -p </dev/null >/dev/null 2>&1
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
  *) echo "usage: $0 create|remove STATE_FILE" >&2; exit 2 ;;
esac
