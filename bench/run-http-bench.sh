#!/usr/bin/env bash
# postMessage over loopback: a 100 MB (or MEGABYTES) response streamed,
# with its throughput and the JVM's resident-memory growth, and a first
# HTTPS call to a new server against the second; then protect + unprotect
# of a 64-byte secret per second (qv_protect_bench), when it was built.
# Not part of the test run.
# usage: bench/run-http-bench.sh [BUILD_DIR [MEGABYTES]]   (default build/release, built here when it lacks the jar)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
[ -f "$build/java/quorvane-client.jar" ] || (cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release --target quorvane quorvane_client qv_protect_bench >/dev/null)
jdk=/usr/lib/jvm/java-17-openjdk-amd64/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The HTTPS server's certificate, trusted by the library through CURL_CA_BUNDLE
# (which a machine's own setting would otherwise win over SSL_CERT_FILE).
"$jdk/keytool" -genkeypair -alias server -keyalg EC -groupname secp256r1 -dname CN=localhost \
  -ext SAN=dns:localhost -validity 2 -keystore "$work/server.p12" -storepass changeit >/dev/null 2>&1
"$jdk/keytool" -exportcert -rfc -alias server -keystore "$work/server.p12" -storepass changeit \
  -file "$work/cert.pem" >/dev/null 2>&1
# Without TCP_NODELAY the JDK server answers a small request 40 ms late (delayed ACK).
CURL_CA_BUNDLE=$work/cert.pem SSL_CERT_FILE=$work/cert.pem "$jdk/java" -Dsun.net.httpserver.nodelay=true -Djava.library.path="$build/lib" -cp "$build/java/quorvane-client.jar" \
  "$root/bench/java/HttpBench.java" "$work/server.p12" "${2:-100}"
if [ -x "$build/qv_protect_bench" ]; then
  "$build/qv_protect_bench" --benchmark_min_time=2
fi
