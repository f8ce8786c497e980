#!/usr/bin/env bash
# getCompoundDocumentUserProperties / setCompoundDocumentUserProperties
# against Apache POI on a 1 MB and a 200 MB .doc, in one JVM, steady state.
# Not part of the test run (it takes a few minutes).
# With --user-sets: documents of 1,000, 2,000 and 4,000 user-defined
# properties (or SIZES) instead, written and read through the same methods.
# With --cached-read: the read of an unchanged 50 KB against a 200 MB .doc,
# and of a 1 MB one against POI (the documents are made in a temp folder).
# usage: bench/run-docprops-bench.sh [BUILD_DIR [--user-sets [SIZES...] | --cached-read]]
#   (default build/release, built here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ $# -eq 0 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorvane quorvane_client >/dev/null
fi
java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
poi=/usr/share/java/poi.jar:/usr/share/java/commons-collections4.jar:/usr/share/java/commons-math3.jar:/usr/share/java/commons-codec.jar:/usr/share/java/commons-io.jar:/usr/share/java/log4j-api.jar
fixture=$root/tests/fixtures/compound/Office365BlankSample_v2507.doc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
exec "$java" -Xmx3g -Djava.library.path="$build/lib" -cp "$build/java/quorvane-client.jar:$poi" \
  "$root/bench/java/DocPropsBench.java" "$fixture" "$work" "${@:2}"
