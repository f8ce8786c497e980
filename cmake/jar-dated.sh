#!/usr/bin/env bash
# jar with every entry dated DATE instead of by its file's time, for add_jar,
# which calls jar -cf[e][m] JAR [MAIN] [MANIFEST] FILES...: jar takes --date
# only among long options, so the bundled letters are spelt out.
# usage: jar-dated.sh JAR_TOOL DATE -cf[e][m] ARGS...
set -euo pipefail
jar=$1 date=$2 flags=$3
shift 3
[[ "$flags" == -c* ]] || { echo "jar-dated: expected -c..., got $flags" >&2; exit 2; }
args=(--create "--date=$date")
flags=${flags#-c}
for ((i = 0; i < ${#flags}; i++)); do
  [ $# -gt 0 ] || { echo "jar-dated: -${flags:i:1} lacks its argument" >&2; exit 2; }
  case ${flags:i:1} in
    f) args+=(--file "$1") ;;
    e) args+=(--main-class "$1") ;;
    m) args+=(--manifest "$1") ;;
    *) echo "jar-dated: unknown option -${flags:i:1}" >&2; exit 2 ;;
  esac
  shift
done
exec "$jar" "${args[@]}" "$@"
