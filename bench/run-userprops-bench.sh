#!/usr/bin/env bash
# setCompoundDocumentUserProperties / getCompoundDocumentUserProperties on
# documents with 1,000, 2,000 and 4,000 user-defined properties (about a
# minute; not part of the test run).
# usage: bench/run-userprops-bench.sh [BUILD_DIR [SIZES...]]   (default build/release, built here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ $# -eq 0 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorvane quorvane_client >/dev/null
fi
shift || true
java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
fixture=$root/../shared/fixtures/compound/Office365BlankSample_v2507.doc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
exec "$java" -Djava.library.path="$build/lib" -cp "$build/java/quorvane-client.jar" \
  "$root/bench/java/UserPropsBench.java" "$fixture" "$work" "$@"
