#!/usr/bin/env bash
# Every native method the Linux library exports must be in the exports table
# and in the Windows DLL under both _Java_..._m@N (N from the table) and
# Java_..._m. Fails on the first difference, listing all of them.
# usage: check-exports.sh libquorvane.so quorvane.dll exports.txt
set -u
so=$1 dll=$2 table=$3
prefix=Java_com_quorvane_infrastructure_os_windows_Win32Impl_
[ -f "$dll" ] || { echo "no Windows DLL at $dll (build the windows-i686 preset first)"; exit 1; }

linux=$(nm -D --defined-only "$so" | awk '{print $3}' | grep "^$prefix" | sed "s/^$prefix//" | sort)
dllnames=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
           | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
declare -A bytes
while read -r method n _; do
  case "$method" in ''|'#'*) continue ;; esac
  bytes[$method]=$n
done < "$table"

failures=0
count=0
for method in $linux; do
  count=$((count + 1))
  n=${bytes[$method]:-}
  if [ -z "$n" ]; then
    echo "MISSING FROM TABLE: $method (exported by the Linux library)"; failures=$((failures + 1)); continue
  fi
  grep -qxF "_${prefix}${method}@${n}" <<<"$dllnames" \
    || { echo "MISSING IN DLL: _${prefix}${method}@${n}"; failures=$((failures + 1)); }
  grep -qxF "${prefix}${method}" <<<"$dllnames" \
    || { echo "MISSING IN DLL: ${prefix}${method}"; failures=$((failures + 1)); }
  other=$(grep -E "^_${prefix}${method}@[0-9]+$" <<<"$dllnames" | grep -vxF "_${prefix}${method}@${n}")
  [ -z "$other" ] || { echo "WRONG BYTE COUNT: $other (expected @$n)"; failures=$((failures + 1)); }
done
[ "$count" -gt 0 ] || { echo "the Linux library exports no native method"; exit 1; }
echo "checked $count native methods: $failures problems"
[ "$failures" -eq 0 ]
