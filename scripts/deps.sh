#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quiet and
# idempotent: when everything is present it touches no package index.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  openjdk-17-jdk-headless junit5 libapache-poi-java python3-olefile libgoogle-gson-java jq
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  libssl-dev libcurl4-openssl-dev libproxy-dev libproxy1-plugin-gsettings curl
  gsettings-desktop-schemas dconf-gsettings-backend dconf-service
  libx11-dev libxss-dev libsqlite3-dev xvfb x11-utils
  pkg-config libglib2.0-dev dbus-daemon shared-mime-info
  gnome-keyring libglib2.0-bin
  libmount-dev libudev-dev
  wine wine64 wine32:i386
  dpkg-dev lintian faketime libimage-exiftool-perl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# wine32 (the 32-bit loader the i686 Windows tests run under) is an i386 package;
# it installs on a kernel that cannot run it, where those tests are skipped.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# A mirror mid-sync can fail part of the refresh; what we need may still be there.
for attempt in 1 2 3; do
  apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt); retrying" >&2
  sleep $((attempt * 5))
done || true
for attempt in 1 2 3; do
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null && exit 0
  echo "apt-get install failed (attempt $attempt); retrying" >&2
  sleep $((attempt * 5))
  apt-get update -qq || true
done
exit 1
