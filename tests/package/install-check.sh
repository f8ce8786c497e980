#!/usr/bin/env bash
# Installs the package as its users do (apt-get install ./quorvane_*.deb): without its recommendations it must
# load and read a document and depend on no library it only opens on first use; with them, the installed files run
# as an ordinary user in a private environment (System.loadLibrary with no library path, docprops and quorvane-reg
# from the PATH); purged, nothing it brought is left. Needs root, and the package not installed already.
# usage: install-check.sh DEB SAMPLE_DOCUMENT
set -euo pipefail
deb=$(realpath "$1") sample=$(realpath "$2")
here=$(dirname "$(readlink -f "$0")")
[ "$(id -u)" = 0 ] || { echo "install-check: installs a package, run as root" >&2; exit 1; }
if dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q 'ok installed'; then
  echo "install-check: quorvane is installed already; it installs and purges it itself" >&2
  exit 1
fi
# What the package brings, and which of it (shared folders) was there before.
mapfile -t paths < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$')
before=()
for p in "${paths[@]}"; do [ -e "$p" ] && before+=("$p"); done

work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q 'ok installed' && apt-get purge -y -qq quorvane >/dev/null
  return 0
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive

# The user's side: files the ordinary user can read, in a folder of its own.
chmod 755 "$work"
cp "$sample" "$here/../private-env.sh" "$work/"
document=$work/$(basename "$sample")
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env PATH=/usr/bin:/bin bash "$work/private-env.sh" "$@"; }
status=0
run() {
  local what=$1 expected=$2 output
  shift 2
  if output=$(cd "$work" && as_user "$@" 2>&1) && grep -Eq -- "$expected" <<<"$output"; then
    echo "ok   $what"
  else
    echo "FAIL $what"; status=1
  fi
  sed 's/^/     /' <<<"$output"
}
load() {
  run "System.loadLibrary(\"quorvane\") without -Djava.library.path$1" '^[0-9]+ summary properties' \
    java -cp "/usr/share/java/quorvane-client.jar:$work" LoadLibraryCheck "$document"
}

apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
# Compiled, not run from source: the source launcher's own class loader
# would load the library a second time beside Win32Impl's.
javac -d "$work" -cp /usr/share/java/quorvane-client.jar "$here/LoadLibraryCheck.java"
chmod -R a+rX "$work"
depends=$(dpkg-query -W -f='${Depends}' quorvane)
echo "installed without recommendations: Depends: $depends"
# The libraries opened on first use: the sonames the library names that it
# does not link, each found in the package that holds it here, less the
# packages that hold a linked one (libssl.so.3 is opened, but its package
# also holds the linked libcrypto.so.3).
library=/usr/lib/x86_64-linux-gnu/jni/libquorvane.so
needed=$(readelf -dW "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
package_of() { while read -r so; do dpkg -S "*/$so" 2>/dev/null | head -n 1 | cut -d: -f1; done | sort -u; }
linked=$(package_of <<<"$needed")
mapfile -t opened < <(strings -a "$library" | grep -E '^lib[A-Za-z0-9_+.-]+\.so\.[0-9]+$' | sort -u |
                      grep -vxF "$needed" | package_of | grep -vxF "$linked")
listed=()
for p in "${opened[@]}"; do grep -Eq "(^|, )$p( |,|$)" <<<"$depends" && listed+=("$p"); done
if [ ${#opened[@]} -gt 0 ] && [ ${#listed[@]} -eq 0 ]; then
  echo "ok   Depends names none of the ${#opened[@]} libraries opened on first use"
else
  echo "FAIL Depends names libraries opened on first use: ${listed[*]:-(none found in the library)}"
  status=1
fi
load ", without recommendations"
apt-get purge -y -qq quorvane >/dev/null

apt-get install -y -qq "$deb" >/dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version}, ${Installed-Size} KiB, Recommends: ${Recommends}' quorvane)"
load ""
run "docprops show from the PATH" 'PIDSI_TITLE|Title' docprops show "$document"
run "quorvane-reg add and query from the PATH" 'Checked +REG_SZ +by the package' \
  sh -c 'quorvane-reg add "HKCU\Software\Quorvane\InstallCheck" /v Checked /d "by the package" /f >/dev/null &&
         quorvane-reg query "HKCU\Software\Quorvane\InstallCheck" /v Checked'

# The machine store, written by root under a strict umask, is read by a user.
(umask 077 && quorvane-reg add 'HKLM\Software\Quorvane\InstallCheck' /v Machine /d 'for everyone' /f >/dev/null)
run "the machine store, written by root with umask 077, read by a user" 'Machine +REG_SZ +for everyone' \
  quorvane-reg query 'HKLM\Software\Quorvane\InstallCheck' /v Machine

apt-get purge -y -qq quorvane >/dev/null
left=()
[ ! -e /var/lib/quorvane ] || left+=("/var/lib/quorvane (the machine store)")
dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q 'installed' && left+=("the package's dpkg record")
for p in "${paths[@]}"; do
  [ -e "$p" ] || continue
  printf '%s\n' "${before[@]}" | grep -qxF -- "$p" || left+=("$p")
done
if [ ${#left[@]} -eq 0 ]; then echo "ok   purged: nothing of the package is left (${#paths[@]} paths)"
else echo "FAIL purged, but left: ${left[*]}"; status=1; fi
exit $status
