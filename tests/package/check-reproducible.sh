#!/usr/bin/env bash
# The jars, the Windows bundle and the Debian package are reproducible: made again from this build's objects and
# class files, with the clock a year back (back: nothing may lie in the future of later builds), new class file
# times, umask 077 and another folder, each must come out byte for byte as before ("same" or "DIFFERS" with what
# differs), and carry the build's time (SOURCE_DATE_EPOCH at configure time, else the last commit's). Native code
# is not compiled again; cmake/Reproducible.cmake keeps build paths out of it. Run after scripts/package.sh, whose
# jars and bundle it makes again in place.
# usage: check-reproducible.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
command -v faketime >/dev/null || { echo "check-reproducible: needs faketime (scripts/deps.sh)" >&2; exit 1; }
deb=$(ls "$build"/quorvane_*_*.deb) zip=$(ls "$build"/quorvane-*-windows.zip)
files=(java/quorvane-client.jar java/quorvane-tools.jar java/loader/quorvane-nativelib.jar java/quorvane-native.jar
       "${zip#"$build"/}" "${deb#"$build"/}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/first" && (cd "$build" && cp --parents "${files[@]}" "$work/first/")

# The build decides the time: none from the caller's environment.
unset SOURCE_DATE_EPOCH
# Runs a step quietly with the clock set back; its output only when it fails.
earlier() {
  faketime -f -400d "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; return 1; }
}
(
  umask 077
  find "$build/CMakeFiles" -name '*.class' -exec touch -d '2001-02-03 04:05:06' {} +
  rm -f "$build/${files[0]}" "$build/${files[1]}" "$build/${files[2]}" "$build/${files[3]}" "$zip"
  earlier cmake --build "$build" --target quorvane_client quorvane_tools quorvane_native windows_bundle
  # cpack gives the .deb's own members the umask's modes (dpkg-buildpackage
  # sets 022 for that reason); what they hold must not depend on it.
  earlier cpack --config "$build/CPackConfig.cmake" -B "$work/umask077"
)
(umask 022 && earlier cpack --config "$build/CPackConfig.cmake" -B "$work/again")
again_deb=$work/again/$(basename "$deb") umask_deb=$work/umask077/$(basename "$deb")

status=0
# One row: what, and two files that must be the same.
row() {
  local what=$1 first=$2 second=$3
  if [ -f "$second" ] && cmp -s "$first" "$second"; then
    echo "same    $what $(sha256sum <"$first" | cut -c1-16)"
    return
  fi
  echo "DIFFERS $what: $(sha256sum <"$first" | cut -c1-16) then $(sha256sum <"$second" 2>&1 | cut -c1-16)"
  status=1
  if command -v diffoscope >/dev/null; then
    diffoscope --no-progress --text - "$first" "$second" 2>&1 | head -n 40 | sed 's/^/        /' || true
  fi
}
for f in "${files[@]}"; do
  case $f in
    *.deb) row "$f (another folder, another time)" "$work/first/$f" "$again_deb" ;;
    *) row "$f (another time, umask 077)" "$work/first/$f" "$build/$f" ;;
  esac
done
for member in control.tar.gz data.tar.gz; do
  ar p "$deb" "$member" >"$work/first.$member"
  ar p "$umask_deb" "$member" >"$work/umask077.$member" 2>/dev/null || true
  row "$(basename "$deb"): $member (umask 077)" "$work/first.$member" "$work/umask077.$member"
done

# One row: what, the time every line of a listing must show, and the listing.
dated() {
  local what=$1 time=$2 listing=$3 wrong
  wrong=$(grep -vF -- "$time" <<<"$listing" | head -n 1) || true
  if [ -n "$listing" ] && [ -z "$wrong" ]; then echo "dated   $what $time"
  else echo "UNDATED $what: not $time: ${wrong:-no entries}"; status=1; fi
}
epoch=$(sed -n 's/^QV_SOURCE_DATE_EPOCH:INTERNAL=//p' "$build/CMakeCache.txt")
if [[ ! "$epoch" =~ ^[0-9]+$ ]]; then
  echo "UNDATED $build/CMakeCache.txt records no QV_SOURCE_DATE_EPOCH"
  exit 1
fi
# A zip entry's time is local, in 2 s steps, from 1980 on: the build writes it in UTC.
zip_epoch=$((epoch < 315532802 ? 315532802 : epoch - epoch % 2))
zip_time=$(TZ=UTC date -d "@$zip_epoch" +%Y%m%d.%H%M%S)
for f in "${files[@]}"; do
  case $f in
    *.deb)
      dated "$f: files" "$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" \
        "$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time)"
      dated "$f: control" "$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" \
        "$(dpkg-deb --ctrl-tarfile "$deb" | TZ=UTC tar -tv --full-time)" ;;
    *) dated "$f" "$zip_time" "$(zipinfo -T "$build/$f" | grep -E '^[-d]')" ;;
  esac
done
exit $status
