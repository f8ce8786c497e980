#!/usr/bin/env bash
# After a full build (scripts/test.sh, or the release and both Windows
# presets by hand): the Debian package, checked with lintian (any error
# fails), and the Windows bundle. Both land in build/release. Then both
# and the jars are made again and compared (tests/package/check-reproducible.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# As dpkg-buildpackage does: cpack gives the .deb's members the umask's modes.
umask 022
(cd build/release && cpack -G DEB >/dev/null)
cmake --build --preset release --target windows_bundle >/dev/null
deb=$(ls build/release/quorvane_*.deb)
echo "$deb: $(du -k "$deb" | cut -f1) KiB; $(dpkg-deb -f "$deb" Depends)"
lintian --fail-on error --info "$deb"
zip=$(ls build/release/quorvane-*-windows.zip)
ls -l "$zip"
# Each DLL once: no jar in the bundle carries a library of its own.
python3 - "$zip" <<'EOF'
import io, sys, zipfile
bundle = zipfile.ZipFile(sys.argv[1])
twice = [n for n in bundle.namelist() if n.endswith('.jar')
         and any(e.endswith(('.dll', '.so')) for e in zipfile.ZipFile(io.BytesIO(bundle.read(n))).namelist())]
dlls = [n for n in bundle.namelist() if n.endswith('.dll')]
print('%s: %d DLLs, %d entries' % (sys.argv[1], len(dlls), len(bundle.namelist())))
sys.exit('jars in the bundle that carry the libraries again: %s' % ', '.join(twice) if twice else None)
EOF
bash tests/package/check-reproducible.sh build/release
