#!/usr/bin/env bash
# docprops over a whole share against ExifTool: documents per second for
# `docprops show --json --all -r` and `exiftool -r -json` on one corpus, cold
# cache and warm, each run a fresh process (the JVM's own start included),
# and a check that both report the same user-defined names and values.
# The corpus: copies of the .doc/.xls/.ppt fixtures, each as it is, with
# three text properties set, and tracked, spread over 16 folders.
# Not part of the test run (a few minutes). Cold runs empty the kernel's page
# cache (root); where that is refused, the corpus' pages alone are evicted.
# usage: bench/run-docprops-scan-bench.sh [DOCUMENTS [BUILD_DIR]]   (default 1600, build/release, built here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1600}
build=${2:-$root/build/release}
if [ $# -lt 2 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorvane quorvane_tools >/dev/null
fi
if ! command -v exiftool >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libimage-exiftool-perl >/dev/null
fi
java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
# As README's docprops function runs it.
docprops=("$java" -XX:TieredStopAtLevel=1 -XX:+UseSerialGC -Djava.library.path="$build/lib"
  -cp "$build/java/quorvane-client.jar:$build/java/quorvane-tools.jar" com.quorvane.tools.DocProps)
fixtures=$root/../shared/fixtures/compound
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/base"
for f in "$fixtures"/*.doc "$fixtures"/*.xls "$fixtures"/*.ppt; do
  name=$(basename "$f")
  for kind in plain props tracked; do
    install -m 644 "$f" "$work/base/$kind-$name"
  done
  for kind in props tracked; do
    "${docprops[@]}" set "$work/base/$kind-$name" "Client=Müller & Söhne" Project=Apollo "Stage=draft 2" >/dev/null
  done
  "${docprops[@]}" track "$work/base/tracked-$name" --document-id "doc-$name" >/dev/null 2>&1 ||
    echo "(not tracked: $name; docprops track failed on it)"
done
python3 - "$work/base" "$work/corpus" "$count" <<'EOF'
import os, shutil, sys
base, corpus, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(os.listdir(base))
for i in range(count):
    stem, ext = os.path.splitext(names[i % len(names)])
    folder = os.path.join(corpus, 'd%02d' % (i % 16))
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(os.path.join(base, names[i % len(names)]), os.path.join(folder, '%s-%05d%s' % (stem, i, ext)))
EOF
bytes=$(du -sb "$work/corpus" | cut -f1)

if sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then
  cold="the kernel's page cache emptied before each run (drop_caches)"
  evict() { sync; echo 3 >/proc/sys/vm/drop_caches; }
else
  cold="the corpus' pages evicted before each run (posix_fadvise DONTNEED; the tools' own files stay cached)"
  evict() {
    python3 - "$work/corpus" <<'EOF'
import os, sys
for folder, _, files in os.walk(sys.argv[1]):
    for name in files:
        fd = os.open(os.path.join(folder, name), os.O_RDONLY)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
EOF
  }
fi

# Seconds of one run of the command, its output in $work/out.
seconds() {
  local start end
  start=$(date +%s%N)
  (cd "$work" && "$@" >"$work/out" 2>/dev/null) || true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
runs=3
measure() { # LABEL COMMAND...: median seconds cold and warm; the last warm run's output kept
  local label=$1 c=() w=()
  shift
  for _ in $(seq $runs); do evict; c+=("$(seconds "$@")"); done
  seconds "$@" >/dev/null
  for _ in $(seq $runs); do w+=("$(seconds "$@")"); done
  cp "$work/out" "$work/$label.out"
  echo "$(median "${c[@]}") $(median "${w[@]}")"
}

jobs=$(nproc)
read -r ours_cold ours_warm < <(measure ours "${docprops[@]}" show --json --all -r corpus)
read -r exif_cold exif_warm < <(measure exiftool exiftool -r -json -G1 -D corpus)

rate() { awk -v n="$count" -v s="$1" 'BEGIN { printf "%.0f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
echo
echo "corpus: $count documents, $((bytes / 1000000)) MB, in 16 folders; $(nproc) processors; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cold: $cold; median of $runs runs each, each a new process"
printf '%-36s %10s %10s %12s %12s\n' "" "cold s" "warm s" "cold docs/s" "warm docs/s"
printf '%-36s %10s %10s %12s %12s\n' "docprops show --json --all -r (-j $jobs)" "$ours_cold" "$ours_warm" \
  "$(rate "$ours_cold")" "$(rate "$ours_warm")"
printf '%-36s %10s %10s %12s %12s\n' "exiftool -r -json -G1 -D" "$exif_cold" "$exif_warm" \
  "$(rate "$exif_cold")" "$(rate "$exif_warm")"
echo "docprops is $(ratio "$exif_cold" "$ours_cold") times as fast cold, $(ratio "$exif_warm" "$ours_warm") times warm"
python3 "$root/bench/compare_with_exiftool.py" "$work/ours.out" "$work/exiftool.out"
