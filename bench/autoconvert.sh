#!/bin/sh
# Builds and runs the Auto Converter measurements under Wine, in a prefix and display of their own.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" x86_64 >/dev/null
build="$top/build/x86_64"
export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine "$build/bin/autoconvert_bench.exe"
