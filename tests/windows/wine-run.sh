#!/usr/bin/env bash
# Runs a Windows program under the prefix that wine-prefix.sh made, absolute
# Unix paths among the arguments as Z: paths; exits with the program's code.
# usage: wine-run.sh STATE_FILE PROGRAM [ARGS...]
set -euo pipefail
state=$1; shift
[ -s "$state" ] || { echo "no Wine prefix: $state is missing (the wine.prefix test makes it)"; exit 1; }
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(cat "$state")
program=$1; shift
args=()
for a in "$@"; do
  case "$a" in /*) args+=("Z:$a") ;; *) args+=("$a") ;; esac
done
# Output goes through a file: Wine's helper processes outlive the program
# and would hold the caller's pipe open.
out=$(mktemp "$WINEPREFIX/output.XXXXXX")
status=0
wine "$program" "${args[@]}" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
exit "$status"
