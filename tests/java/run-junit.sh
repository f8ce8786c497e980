#!/usr/bin/env bash
# Runs the JUnit 5 suite in a real JVM with -Xcheck:jni. A JNI warning in the
# JVM's output fails the run even when every test passed.
# usage: run-junit.sh JAVA JUNIT_JAR LIBRARY_DIR CLASSPATH [extra launcher args]
set -u
java=$1 junit=$2 libdir=$3 classpath=$4
shift 4
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# In a private environment (tests/private-env.sh): the suite never sees the developer's own.
"$(dirname "$0")/../private-env.sh" "$java" -Xcheck:jni -Djava.library.path="$libdir" -Djava.awt.headless=true \
  -jar "$junit" --disable-banner --details=summary --details-theme=ascii \
  --fail-if-no-tests --class-path "$classpath" --scan-class-path \
  --include-classname='.*Test' "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if grep -qE 'WARNING in native method|FATAL ERROR in native method|WARNING: JNI|JNI (warning|error)|[Hh]andler (was )?modified' "$log"; then
  echo "run-junit: the JVM reported JNI problems (see above)" >&2
  exit 1
fi
exit "$status"
