#!/usr/bin/env bash
# Both libraries export exactly the table's methods (the DLL each under its three names); lists every difference.
# usage: check-exports.sh libquorvane.so quorvane.dll exports.txt
set -u
so=$1 dll=$2 table=$3
p=Java_com_quorvane_infrastructure_os_windows_Win32Impl_
[ -f "$dll" ] || { echo "no Windows DLL at $dll (build the windows-i686 preset first)"; exit 1; }
table_methods=$(awk '/^[A-Za-z]/ {print $1}' "$table" | sort)
linux=$(nm -D --defined-only "$so" | awk '{print $3}' | sed -n "s/^$p//p" | sort)
wanted=$(awk -v p="$p" '/^[A-Za-z]/ {print "_" p $1 "@" $2; print p $1; print p $1 "@" $2}' "$table" | sort)
exported=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
           | grep -o "[^ ]*$p[^ ]*" | sort)
status=0
diff --label "exports table" --label "$so" <(echo "$table_methods") <(echo "$linux") || status=1
diff --label "wanted of the DLL" --label "$dll" <(echo "$wanted") <(echo "$exported") || status=1
[ -n "$linux" ] || { echo "the Linux library exports no native method"; status=1; }
echo "$(wc -l <<<"$linux") native methods, $(wc -l <<<"$exported") DLL exports: $([ $status = 0 ] && echo same || echo DIFFERENT)"
exit $status
