#!/bin/sh
# Reading speed: the ASF reader alone (under Wine) against ffmpeg's demux of the same ~1 GiB
# recording, in the same run, as MB/s and their ratio. The vector is made once under build/.
#   bench/demux.sh [BUILD_DIR]     (default build/x86_64; only the benchmark target is built)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/x86_64}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target demux_bench >/dev/null

vectors="$build/bench-vectors"
big="$vectors/demux-1gib.asf"
mkdir -p "$vectors"
if [ ! -f "$big" ]; then
    # 20 s at a broadcast-high bitrate, then looped by stream copy to about 1 GiB.
    ff="/usr/bin/ffmpeg -v error -y"
    $ff -f lavfi -i testsrc=size=720x576:rate=25:duration=20 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
        -c:v mpeg2video -g 12 -bf 0 -b:v 40M -minrate 40M -maxrate 40M -bufsize 9781k \
        -c:a mp2 -ac 2 -b:a 192k -f asf "$vectors/demux-20s.asf"
    size=$(stat -c %s "$vectors/demux-20s.asf")
    loops=$(( (1073741824 + size - 1) / size - 1 ))
    $ff -stream_loop "$loops" -i "$vectors/demux-20s.asf" -map 0 -c copy -f asf "$big"
    rm -f "$vectors/demux-20s.asf"
fi
bytes=$(stat -c %s "$big")
# A media-centre recording (binary audio stream, timing and frame extensions on every object)
# from 20 s of elementary streams at the same bitrate; read ten times over by both.
dvr="$vectors/demux-20s.dvr-ms"
if [ ! -f "$dvr" ]; then
    ff="/usr/bin/ffmpeg -v error -y"
    $ff -f lavfi -i testsrc=size=720x576:rate=25:duration=20 -c:v mpeg2video -g 12 -bf 2 -b:v 40M -minrate 40M \
        -maxrate 40M -bufsize 9781k -f mpeg2video "$vectors/demux-20s.m2v"
    $ff -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 -ac 2 -c:a mp2 -b:a 192k -f mp2 "$vectors/demux-20s.mp2"
    make_dvr=1
fi

export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT

windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
if [ -n "$make_dvr" ]; then
    wine "$build/bin/demux_bench.exe" --make "$(windows "$dvr")" "$(windows "$vectors/demux-20s.m2v")" \
        "$(windows "$vectors/demux-20s.mp2")"
    rm -f "$vectors/demux-20s.m2v" "$vectors/demux-20s.mp2"
fi

# file passes: the reader's best of three runs against ffmpeg's, both reading warm from the page
# cache (one untimed pass first), each run reading the file `passes` times. ffmpeg's time is its
# own -benchmark real time, which leaves out starting the process and opening the file.
measure() {
    file=$1 passes=$2
    bytes=$(stat -c %s "$file")
    cat "$file" >/dev/null
    reader=$(wine "$build/bin/demux_bench.exe" "$(windows "$file")" 3 "$passes" | tr -d '\r' | tee /dev/stderr |
        sed -n 's/^reader_mb_per_s //p')
    best=0
    for run in 1 2 3; do
        seconds=0
        pass=0
        while [ $pass -lt "$passes" ]; do
            rtime=$(/usr/bin/ffmpeg -hide_banner -nostats -v info -benchmark -i "$file" -map 0 -c copy -f null - 2>&1 |
                sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
            seconds=$(echo "$seconds + $rtime" | bc -l)
            pass=$((pass + 1))
        done
        rate=$(echo "$bytes * $passes / $seconds / 1000000" | bc -l)
        printf 'ffmpeg run %d: %.3f s: %.1f MB/s\n' "$run" "$seconds" "$rate"
        best=$(echo "if ($rate > $best) $rate else $best" | bc -l)
    done
    printf '%s (%.0f MB x %d): reader %.1f MB/s, ffmpeg %.1f MB/s, ratio %.2f\n' "$(basename "$file")" \
        "$(echo "$bytes / 1000000" | bc -l)" "$passes" "$reader" "$best" "$(echo "$reader / $best" | bc -l)"
}
measure "$big" 1 | tee "$vectors/result.txt"
measure "$dvr" 10 | tee -a "$vectors/result.txt"
echo "--"
grep ratio "$vectors/result.txt"
