#!/usr/bin/env bash
# The main job: builds the library and runs the demo in a real JVM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane quorvane_tools >/dev/null
java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
exec "$java" -Djava.library.path=build/release/lib \
  -cp build/release/java/quorvane-client.jar:build/release/java/quorvane-tools.jar \
  com.quorvane.tools.Demo "$@"
