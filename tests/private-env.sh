#!/usr/bin/env bash
# Runs a test program in an environment of its own, never the developer's: a
# fresh private home (so ~/.netrc is the test's), XDG folders and session bus
# address, and no proxy, trust store or desktop-session settings. usage: private-env.sh PROGRAM [ARGS...]
private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
mkdir -p "$private"/{home,config,data,cache,state} && mkdir -m 700 "$private/runtime"
export HOME="$private/home" XDG_CONFIG_HOME="$private/config" XDG_DATA_HOME="$private/data" \
  XDG_CACHE_HOME="$private/cache" XDG_STATE_HOME="$private/state" XDG_RUNTIME_DIR="$private/runtime" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$private/runtime/no-bus"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY ftp_proxy FTP_PROXY \
  CURL_CA_BUNDLE SSL_CERT_FILE SSL_CERT_DIR SSLKEYLOGFILE QV_INET_KEYLOG DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID
"$@"
