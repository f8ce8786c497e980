#!/usr/bin/env bash
# Builds everything (Linux release with sanitized unit tests, the Windows DLL)
# and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release
