#!/usr/bin/env bash
# After a full build (scripts/test.sh, or the release and both Windows
# presets by hand): the Debian package, checked with lintian (any error
# fails), and the Windows bundle. Both land in build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
(cd build/release && cpack -G DEB >/dev/null)
cmake --build --preset release --target windows_bundle >/dev/null
deb=$(ls build/release/quorvane_*.deb)
echo "$deb: $(du -k "$deb" | cut -f1) KiB; $(dpkg-deb -f "$deb" Depends)"
lintian --fail-on error --info "$deb"
ls -l build/release/quorvane-*-windows.zip
