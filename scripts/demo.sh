#!/usr/bin/env bash
# The main job: builds the library and the docprops tool, then runs a short
# docprops session on a copy of the bundled sample (the sample stays clean).
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
docprops() {
  echo
  echo "\$ docprops $*"
  (cd "$work" && "$java" -Djava.library.path="$root/build/release/lib" \
    -cp "$root/build/release/java/quorvane-client.jar:$root/build/release/java/quorvane-tools.jar" \
    com.quorvane.tools.DocProps "$@")
}
echo "docprops on a copy of samples/quarterly-report.doc in $work"
docprops show quarterly-report.doc
docprops set quarterly-report.doc "Reviewer=Zoë Ångström" Status=final
docprops show quarterly-report.doc
docprops history quarterly-report.doc
docprops check quarterly-report.doc
