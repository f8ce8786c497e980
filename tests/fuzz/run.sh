#!/usr/bin/env bash
# Fuzzes a scratch copy of the seeds, so the checked-in corpus stays. usage: run.sh OUT_DIR TARGET SECONDS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(cd "$1" && pwd) target=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seeds=() corpus="$root/tests/fuzz/corpus/${target%_fuzz}" fixtures="$root/tests/fixtures/compound"
case "$target" in
  settings_fuzz | netrc_fuzz) extra=(-max_len=4096) ;;
  message_format_fuzz) extra=() ;;
  pe_version_fuzz) extra=(-max_len=16384) ;;
  props_fuzz) extra=(-rss_limit_mb=1024) ;;
  cfb_fuzz) extra=(-max_len=65536) seeds=("$fixtures") ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
if [ -d "$corpus" ]; then cp "$corpus"/* "$work"/; fi
cd "$work"
"$out/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/$target-" "${extra[@]}" "$work" "${seeds[@]}"
