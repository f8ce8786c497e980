#!/usr/bin/env bash
# docprops over a whole share against ExifTool: documents per second for
# `docprops show --json --all -r` and `exiftool -r -json` on one corpus, cold
# cache and warm, each run a fresh process (the JVM's own start included),
# and a check that both report the same user-defined names and values.
# The corpus: copies of the .doc/.xls/.ppt fixtures, each as it is, with
# three text properties set, and tracked, spread over 16 folders.
# Not part of the test run (a few minutes; QV_BENCH_RUNS runs of each, 5 by default). Cold runs empty the kernel's page
# cache (root); where that is refused, the corpus' pages alone are evicted.
# docprops runs as installed (cmake --install of the build into a scratch
# prefix), with a class-data archive made by one read before the runs.
# usage: bench/run-docprops-scan-bench.sh [DOCUMENTS [BUILD_DIR]]   (default 1600, build/release, built here;
# a BUILD_DIR given must have the targets quorvane quorvane_tools reg quorvane_install_docs built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1600}
build=$(realpath -m "${2:-$root/build/release}")  # the runs' folder is another
if [ $# -lt 2 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorvane quorvane_tools reg quorvane_install_docs >/dev/null
fi
if ! command -v exiftool >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libimage-exiftool-perl >/dev/null
fi
# The class-data archive is made by the first read command, below.
. "$root/bench/docprops-installed.sh"

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
"${docprops[@]}" show --json -r "$work/base" >/dev/null 2>&1 || true

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

# "WALL CPU" seconds of one run of the command (CPU: user + system, children
# included), its output in $work/out. On a busy machine the wall time follows
# the load; the CPU time hardly does.
seconds() {
  python3 - "$work" "$@" <<'EOF'
import os, resource, subprocess, sys, time
work, command = sys.argv[1], sys.argv[2:]
start = time.perf_counter()
with open(os.path.join(work, 'out'), 'wb') as out:
    subprocess.run(command, cwd=work, stdout=out, stderr=subprocess.DEVNULL)
wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print('%.3f %.3f' % (wall, usage.ru_utime + usage.ru_stime))
EOF
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
runs=${QV_BENCH_RUNS:-5}
ours=("${docprops[@]}" show --json --all -r corpus)
exif=(exiftool -r -json -G1 -D corpus)
# The tools take turns, cold runs first, then warm ones: a machine whose
# speed drifts during the bench slows both alike. The last warm run's output
# of each is kept for the comparison of values.
declare -A times
run() { # KEY COMMAND...: one run's wall and CPU seconds added to times[KEY]
  local key=$1 wall cpu
  shift
  read -r wall cpu < <(seconds "$@")
  times[$key.wall]+="$wall " times[$key.cpu]+="$cpu "
}
for _ in $(seq "$runs"); do
  evict
  run ours.cold "${ours[@]}"
  evict
  run exif.cold "${exif[@]}"
done
seconds "${ours[@]}" >/dev/null
seconds "${exif[@]}" >/dev/null
for _ in $(seq "$runs"); do
  run ours.warm "${ours[@]}"
  cp "$work/out" "$work/ours.out"
  run exif.warm "${exif[@]}"
  cp "$work/out" "$work/exiftool.out"
done
# shellcheck disable=SC2086 # the lists are words
{
  ours_cold=$(median ${times[ours.cold.wall]}) ours_cold_cpu=$(median ${times[ours.cold.cpu]})
  ours_warm=$(median ${times[ours.warm.wall]}) ours_warm_cpu=$(median ${times[ours.warm.cpu]})
  exif_cold=$(median ${times[exif.cold.wall]}) exif_cold_cpu=$(median ${times[exif.cold.cpu]})
  exif_warm=$(median ${times[exif.warm.wall]}) exif_warm_cpu=$(median ${times[exif.warm.cpu]})
}
jobs=$((2 * $(nproc)))  # docprops' default

rate() { awk -v n="$count" -v s="$1" 'BEGIN { printf "%.0f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
echo
echo "corpus: $count documents, $((bytes / 1000000)) MB, in 16 folders; $(nproc) processors; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cold: $cold; median of $runs runs each, each a new process, the tools taking turns"
row() {
  printf '%-40s %8s %8s %12s %12s %8s %8s\n' "$1" "$2" "$3" "$(rate "$2")" "$(rate "$3")" "$4" "$5"
}
printf '%-40s %8s %8s %12s %12s %8s %8s\n' "" "cold s" "warm s" "cold docs/s" "warm docs/s" "cold cpu" "warm cpu"
row "docprops show --json --all -r (-j $jobs)" "$ours_cold" "$ours_warm" "$ours_cold_cpu" "$ours_warm_cpu"
row "exiftool -r -json -G1 -D" "$exif_cold" "$exif_warm" "$exif_cold_cpu" "$exif_warm_cpu"
echo "docprops is $(ratio "$exif_cold" "$ours_cold") times as fast cold, $(ratio "$exif_warm" "$ours_warm") times warm;" \
  "it takes $(ratio "$exif_cold_cpu" "$ours_cold_cpu") and $(ratio "$exif_warm_cpu" "$ours_warm_cpu") times less CPU time"
python3 "$root/bench/compare_with_exiftool.py" "$work/ours.out" "$work/exiftool.out"
