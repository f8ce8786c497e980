#!/usr/bin/env bash
# The main job: builds the library and the docprops tool, then runs a short
# docprops session on a copy of the bundled sample (the sample stays clean)
# and scans a folder of copies of it, as text and as JSON read with jq.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane quorvane_tools >/dev/null
root=$PWD
java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/quarterly-report.doc "$work/"
chmod u+w "$work/quarterly-report.doc"
run_docprops() {
  (cd "$work" && "$java" -XX:TieredStopAtLevel=1 -Djava.library.path="$root/build/release/lib" \
    -cp "$root/build/release/java/quorvane-client.jar:$root/build/release/java/quorvane-tools.jar" \
    com.quorvane.tools.DocProps "$@")
}
docprops() {
  echo
  echo "\$ docprops $*"
  run_docprops "$@"
}
echo "docprops on a copy of samples/quarterly-report.doc in $work"
docprops show quarterly-report.doc
docprops set quarterly-report.doc "Reviewer=Zoë Ångström" Status=final
docprops show quarterly-report.doc
docprops history quarterly-report.doc
docprops check quarterly-report.doc

echo
echo "A folder scan: share/ holds that copy, a fresh one, one with a client set, and a text file"
mkdir -p "$work/share/2025" "$work/share/archive"
cp "$work/quarterly-report.doc" "$work/share/2025/q3.doc"
install -m 644 samples/quarterly-report.doc "$work/share/2025/q4.doc"
install -m 644 samples/quarterly-report.doc "$work/share/archive/q2.doc"
echo "minutes of the meeting" >"$work/share/archive/notes.txt"
run_docprops set share/archive/q2.doc Client=Acme >/dev/null
docprops check --read-only -r share
echo
echo "\$ docprops show --json -r share | jq -c 'select(.summary) | {path, tracked, verdict, client: .user.Client.value}'"
run_docprops show --json -r share | jq -c 'select(.summary) | {path, tracked, verdict, client: .user.Client.value}'
