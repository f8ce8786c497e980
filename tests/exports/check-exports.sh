#!/usr/bin/env bash
# The libraries export exactly the table's methods: the Linux one by name
# and nothing else, a 32-bit DLL each under its three names (_m@N, m, m@N),
# a 64-bit DLL under its plain name only (x64 has no stdcall decoration).
# The docprops tool's own class has its table beside exports.txt
# (tool-exports.txt). Lists every difference.
# usage: check-exports.sh libquorvane.so exports.txt quorvane.dll...
set -u
so=$1 table=$2
shift 2
p=Java_com_quorvane_infrastructure_os_windows_Win32Impl_
tp=Java_com_quorvane_tools_TypedProperties_
tool_table=$(dirname "$table")/tool-exports.txt
table_methods=$(awk '/^[A-Za-z]/ {print $1}' "$table" | sort)
linux=$(nm -D --defined-only "$so" | awk '{print $3}' | sed -n "s/^$p//p" | sort)
status=0
diff --label "exports table" --label "$so" <(echo "$table_methods") <(echo "$linux") || status=1
[ -n "$linux" ] || { echo "the Linux library exports no native method"; status=1; }
diff --label "tool exports table" --label "$so" <(awk '/^[A-Za-z]/ {print $1}' "$tool_table" | sort) \
  <(nm -D --defined-only "$so" | awk '{print $3}' | sed -n "s/^$tp//p" | sort) || status=1
others=$(nm -D --defined-only "$so" | awk '$3 !~ /^('"$p|$tp"')/ {print $3}')
if [ -n "$others" ]; then
  echo "$so exports $(wc -l <<<"$others") symbols besides the native methods, among them:"
  head -5 <<<"$others"
  status=1
fi
echo "$(wc -l <<<"$linux") Win32Impl native methods in $so"
for dll in "$@"; do
  [ -f "$dll" ] || { echo "no Windows DLL at $dll (build the windows-i686 and windows-x86_64 presets first)"; status=1; continue; }
  case "$(x86_64-w64-mingw32-objdump -f "$dll")" in
    *pei-i386*) wanted=$(for t in "$table:$p" "$tool_table:$tp"; do
                  awk -v p="${t##*:}" '/^[A-Za-z]/ {print "_" p $1 "@" $2; print p $1; print p $1 "@" $2}' "${t%:*}"
                done) ;;
    *pei-x86-64*) wanted=$(awk -v p="$p" '/^[A-Za-z]/ {print p $1}' "$table"
                  awk -v p="$tp" '/^[A-Za-z]/ {print p $1}' "$tool_table") ;;
    *) echo "$dll is no Windows DLL of a known machine"; status=1; continue ;;
  esac
  exported=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
             | grep -oE "[^ ]*($p|$tp)[^ ]*" | sort)
  dll_status=0
  diff --label "wanted of the DLL" --label "$dll" <(sort <<<"$wanted") <(echo "$exported") || dll_status=1
  echo "$(wc -l <<<"$exported") exports in $dll: $([ $dll_status = 0 ] && echo as wanted || echo DIFFERENT)"
  [ $dll_status = 0 ] || status=1
done
exit $status
