#!/usr/bin/env bash
# A 32-bit loader the kernel refuses (an ELF32 header for x86-64, which no
# kernel executes: "Exec format error", as where ia32 support is missing)
# makes the i686 prefix and every program run on it skip with the reason,
# and never pass or fail. usage: wine-skip.sh WINE_SH
set -u
wine_sh=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '\177ELF\001\001\001\0\0\0\0\0\0\0\0\0\002\0\076\0\001\0\0\0' >"$work/wine"
chmod +x "$work/wine"
status=0
expect() {  # expect WHAT EXIT OUTPUT CODE OUTPUT_PATTERN
  if [ "$2" != "$4" ] || ! grep -q "$5" <<<"$3"; then
    echo "FAILED: $1 exited $2 with: $3"
    status=1
  fi
}
out=$(QV_WINE_LOADER="$work/wine" bash "$wine_sh" create "$work/state" i686 2>&1)
expect "create" $? "$out" 77 '^SKIPPED: the i686 Windows suite cannot run here: .*Exec format error'
out=$(bash "$wine_sh" run "$work/state" "$work/x.exe" 2>&1)
expect "run" $? "$out" 77 '^SKIPPED: the i686 Windows suite'
# The 64-bit loader refused is a broken machine, not a skip.
out=$(QV_WINE_LOADER="$work/wine" bash "$wine_sh" create "$work/state64" x86_64 2>&1)
expect "create x86_64" $? "$out" 1 'does not start'
out=$(bash "$wine_sh" remove "$work/state" 2>&1)
expect "remove" $? "$out" 77 ''
[ ! -e "$work/state" ] || { echo "FAILED: remove left the skip state"; status=1; }
[ $status = 0 ] && echo "the i686 suite skips, with its reason, where no 32-bit program runs"
exit $status
