#!/bin/sh
# Builds one measurement program and runs it under Wine, in a prefix of its own:
#   bench/run-in-wine.sh TARGET
# HALVERN_BUILD names a configured build directory to use instead of build/x86_64; then only the
# measurement program is built there.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "$HALVERN_BUILD" ]; then
    build="$HALVERN_BUILD"
    cmake --build "$build" --target "$1" >/dev/null
else
    "$top/scripts/setup.sh"
    "$top/scripts/build.sh" x86_64 >/dev/null
    build="$top/build/x86_64"
fi
export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine "$build/bin/$1.exe"
