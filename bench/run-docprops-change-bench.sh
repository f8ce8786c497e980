#!/usr/bin/env bash
# Changing a share with docprops: one `docprops set -r ... -- share` run over
# a corpus of DOCUMENTS copies of the fixtures (in 7,963 folders for 10,000,
# as a real share spreads them), against one docprops run per document as a
# script had to before (timed over a sample and scaled), then one
# `docprops delete -r` run. Each run is a new process, warm cache; the
# values set are checked afterwards with `docprops show --json -r`.
# Not part of the test run. docprops runs as installed (cmake --install of
# the build into a scratch prefix), with its class-data archive.
# usage: bench/run-docprops-change-bench.sh [DOCUMENTS [BUILD_DIR [SAMPLE]]]
#   (default 10000, build/release built here, 100 single runs; a BUILD_DIR given must have the targets
#    quorvane quorvane_tools reg quorvane_install_docs built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000}
build=$(realpath -m "${2:-$root/build/release}")
sample=${3:-100}
if [ $# -lt 2 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorvane quorvane_tools reg quorvane_install_docs >/dev/null
fi
. "$root/bench/docprops-installed.sh"

python3 - "$fixtures" "$work/share" "$count" <<'EOF'
import os, shutil, sys
fixtures, share, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(n for n in os.listdir(fixtures) if n.endswith(('.doc', '.xls', '.ppt')))
folders = max(1, count * 7963 // 10000)
for i in range(count):
    name = names[i % len(names)]
    stem, ext = os.path.splitext(name)
    folder = os.path.join(share, 'f%02d' % (i % folders % 97), 'g%05d' % (i % folders))
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(os.path.join(fixtures, name), os.path.join(folder, '%s-%05d%s' % (stem, i, ext)))
EOF
"${docprops[@]}" show -r "$work/share/f00" >/dev/null 2>&1 || true  # makes the class-data archive
cat "$work/share"/*/*/* >/dev/null

seconds() { # COMMAND...: wall seconds of one run, its standard error in $work/err
  python3 - "$work" "$@" <<'EOF'
import os, subprocess, sys, time
work, command = sys.argv[1], sys.argv[2:]
start = time.perf_counter()
with open(os.path.join(work, 'err'), 'wb') as err:
    code = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=err).returncode
print('%.3f' % (time.perf_counter() - start))
sys.exit(code)
EOF
}
set_all=$(seconds "${docprops[@]}" set -r "Client=Müller & Söhne" Project=Apollo "Stage=draft 2" -- "$work/share")
tail -1 "$work/err"
changed=$("${docprops[@]}" show --json -r "$work/share" 2>/dev/null |
  python3 -c 'import json, sys
print(sum(1 for l in sys.stdin if json.loads(l).get("user", {}).get("Client", {}).get("value") == "Müller & Söhne"))')
delete_all=$(seconds "${docprops[@]}" delete -r Stage -- "$work/share")
tail -1 "$work/err"
find "$work/share" -type f | python3 -c 'import json, sys
for i, p in enumerate(sys.stdin):
    print(json.dumps({"path": p.rstrip("\n"), "set": {"Batch": str(i)}, "delete": ["Project"]}))' >"$work/batch.jsonl"
apply_all=$(seconds "${docprops[@]}" apply "$work/batch.jsonl")
tail -1 "$work/err"
mapfile -t some < <(find "$work/share" -type f | sort | head -n "$sample")
one_by_one=$(python3 - "${docprops[0]}" "${some[@]}" <<'EOF'
import subprocess, sys, time
docprops, files = sys.argv[1], sys.argv[2:]
start = time.perf_counter()
for f in files:
    subprocess.run([docprops, 'set', f, 'Client=Acme'], stdout=subprocess.DEVNULL, check=True)
print('%.3f' % (time.perf_counter() - start))
EOF
)
echo
echo "share: $count documents in $(find "$work/share" -mindepth 2 -type d | wc -l) folders; $(nproc) processors;" \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v n="$count" -v s="$set_all" -v d="$delete_all" -v a="$apply_all" -v o="$one_by_one" -v k="$sample" \
  -v c="$changed" 'BEGIN {
  printf "docprops set -r (3 properties) -- share:  %7.2f s  %6.0f docs/s", s, n / s
  printf "  (%d documents hold the new values)\n", c
  printf "docprops delete -r (1 property) -- share: %7.2f s  %6.0f docs/s\n", d, n / d
  printf "docprops apply (1 set, 1 deleted a line):  %7.2f s  %6.0f docs/s\n", a, n / a
  printf "docprops set FILE, one run per document:  %7.2f s for %d, so %.0f s (%.1f min) for %d\n", o, k, o / k * n,
    o / k * n / 60, n
  printf "one run over the share is %.0f times as fast\n", o / k * n / s
}'
