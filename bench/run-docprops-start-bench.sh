#!/usr/bin/env bash
# docprops' start, warm: the wall time of `docprops show` on one document
# through the installed launcher with its class-data archive (made by a read
# before the runs), QV_BENCH_RUNS runs (40 by default); median and fastest.
# With a second launcher (another version's configured
# build/<preset>/install-stage/docprops), the two run in turn over the same
# install and archive folder, so the machine's load hits both alike.
# Not part of the test run (under a minute).
# usage: bench/run-docprops-start-bench.sh [BUILD_DIR [OTHER_LAUNCHER]]   (default build/dev; a BUILD_DIR must
# have the targets quorvane quorvane_tools reg quorvane_install_docs built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/dev}")
runs=${QV_BENCH_RUNS:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/install" >/dev/null
launchers=("$work/install/bin/docprops")
if [ $# -ge 2 ]; then
  install -m 755 "$2" "$work/install/bin/docprops-other"
  launchers+=("$work/install/bin/docprops-other")
fi
install -m 644 "$root/tests/fixtures/compound/2custom.doc" "$work/x.doc"
export XDG_CACHE_HOME=$work/cache
for launcher in "${launchers[@]}"; do
  "$launcher" show "$work/x.doc" >/dev/null  # makes its archive
  "$launcher" show "$work/x.doc" >/dev/null
done
for ((i = 0; i < runs; i++)); do
  for launcher in "${launchers[@]}"; do
    start=$(date +%s%N)
    "$launcher" show "$work/x.doc" >/dev/null
    echo "${launcher##*/} $(($(date +%s%N) - start))"
  done
done >"$work/times"
for launcher in "${launchers[@]}"; do
  name=${launcher##*/}
  awk -v name="$name" '$1 == name { print $2 }' "$work/times" | sort -n |
    awk -v name="$name" '{ t[NR] = $1 } END { printf "%-16s median %.1f ms, fastest %.1f ms (%d runs)\n",
      name, t[int((NR + 1) / 2)] / 1e6, t[1] / 1e6, NR }'
done
ls "$work/cache/quorvane"
