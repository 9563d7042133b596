#!/bin/sh
# Whole conversions of ~1 GB recordings (SD 6 Mb/s, HD 1080i 18 Mb/s, 1.5 Mb/s, 720x480 15 Mb/s)
# through the real Halvern.exe's Auto Converter, beside the in-process conversion, ffmpeg's remux
# and a copy, each followed by a flush of its output, on the disk and in memory; processor time per
# gigabyte of Halvern and ffmpeg; see bench/remux.py.
#   bench/remux.sh [BUILD_DIR] [RUNS]     (default build/x86_64, 3 runs)
#   HALVERN_BENCH_ONLY=sd-6m,hd-18m bench/remux.sh ...   (some of the recordings only)
#   HALVERN_BENCH_MB=200 bench/remux.sh ...              (recordings of at most 200 MB)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build/x86_64}")
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target Halvern HalvernWindow remux_bench >/dev/null
export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
exec python3 "$top/bench/remux.py" "$build" "${2:-3}"
