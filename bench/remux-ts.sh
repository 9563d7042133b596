#!/bin/sh
# The transport stream multiplexer (mux_bench writing .ts: elementary streams read in large pieces,
# multiplexed, written and flushed) beside ffmpeg's "-c copy -f mpegts" on the same streams: SD
# (720x576 8 Mb/s, AC-3 448k, 4 minutes) and HD (1080i 18 Mb/s, AC-3 5.1, 60 s). Runs interleaved
# in one go (this machine's disk slows down after a few GB of writes), each output flushed; prints
# wall time and processor time (user + system of the process tree, Wine's server not included).
#   bench/remux-ts.sh [RUNS]    (default 3)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench-ts"
data="$build/streams"
runs=${1:-3}
mkdir -p "$data"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target mux_bench >/dev/null
ff="/usr/bin/ffmpeg -v error -y"
if [ ! -f "$data/sd.m2v" ]; then
    $ff -f lavfi -i testsrc2=size=720x576:rate=25:duration=240 -vf noise=alls=20:allf=t -c:v mpeg2video -g 12 -bf 2 \
        -b:v 8M -maxrate 9M -bufsize 1835k -f mpeg2video "$data/sd.m2v"
    $ff -f lavfi -i sine=frequency=440:sample_rate=48000:duration=240 -ac 2 -c:a ac3 -b:a 448k -f ac3 "$data/sd.ac3"
fi
if [ ! -f "$data/hd.m2v" ]; then
    $ff -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=60 -vf noise=alls=12:allf=t -c:v mpeg2video \
        -flags +ilme+ildct -top 1 -g 15 -bf 2 -b:v 18M -maxrate 19M -bufsize 7995392 -f mpeg2video "$data/hd.m2v"
    $ff -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -af aformat=channel_layouts=5.1 -c:a ac3 -b:a 448k \
        -f ac3 "$data/hd.ac3"
fi
export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wineserver -p 2>/dev/null || true # a server that stays, outside the measured runs
trap 'wineserver -k 2>/dev/null || true' EXIT
cat "$data"/*.m2v "$data"/*.ac3 >/dev/null

# measure NAME COMMAND...: appends "name wall cpu" to results.
measure() {
    name=$1; shift
    /usr/bin/time -f "%e %U %S" -o "$data/time.txt" "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; exit 1; }
    sync -f "$data"
    read wall user system <"$data/time.txt"
    echo "$name $wall $(echo "$user + $system" | bc -l)" >>"$data/results.txt"
}
: >"$data/results.txt"
for run in $(seq "$runs"); do
    for kind in sd hd; do
        measure "$kind-halvern" wine "$build/bin/mux_bench.exe" "$(winepath -w "$data/$kind.m2v")" \
            "$(winepath -w "$data/$kind.ac3")" "$(winepath -w "$data/$kind-halvern.ts")"
        measure "$kind-ffmpeg" $ff -fflags +genpts -i "$data/$kind.m2v" -fflags +genpts -i "$data/$kind.ac3" -map 0 -map 1 -c copy -f mpegts "$data/$kind-ffmpeg.ts"
    done
done
for kind in sd hd; do
    for who in halvern ffmpeg; do
        size=$(stat -c %s "$data/$kind-$who.ts")
        grep "^$kind-$who " "$data/results.txt" | sort -k2 -n | awk -v name="$kind $who" -v size="$size" '
            { wall[NR] = $2; cpu[NR] = $3 }
            END { m = int((NR + 1) / 2); printf "%-12s wall %6.2f s  processor %6.2f s  (median of %d)  output %d bytes\n", name, wall[m], cpu[m], NR, size }'
    done
done
rm -f "$data"/*-halvern.ts "$data"/*-ffmpeg.ts
