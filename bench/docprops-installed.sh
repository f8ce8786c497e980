# Sourced by the docprops benchmarks: installs the build given in $build into
# a scratch folder $work (removed on exit), as a user runs it, with a cache
# folder of its own; sets $fixtures and the command array `docprops`.
fixtures=$root/tests/fixtures/compound
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/install" >/dev/null
export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64 XDG_CACHE_HOME=$work/cache
docprops=("$work/install/bin/docprops")
