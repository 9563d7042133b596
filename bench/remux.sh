#!/bin/sh
# A whole conversion of a ~1 GiB media-centre recording: Halvern's ConvertFile with the shipped
# graph of its built-in filters (under Wine, in-process, timed from the call to its return) against
# ffmpeg's "-c copy -f vob" remux of the same file, each followed by a flush of its output to disk.
# Five runs of each, interleaved; prints medians, MB/s of input, their ratio and peak memory, and
# checks once that Halvern's output holds the recording's streams unchanged.
#   bench/remux.sh [BUILD_DIR]     (default build/x86_64; only the benchmark target is built)
# The recording is made once under BUILD_DIR/bench-vectors.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build/x86_64}")
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target remux_bench >/dev/null

export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

vectors="$build/bench-vectors"
recording="$vectors/remux-1gib.dvr-ms"
mkdir -p "$vectors"
if [ ! -f "$recording" ]; then
    ff="/usr/bin/ffmpeg -v error -y"
    # 20 s of video at a broadcast-high bitrate with B-frames, joined end to end to
    # about 1 GiB; the audio is made at the full length, so no join in it drifts.
    $ff -f lavfi -i testsrc=size=720x576:rate=25:duration=20 -c:v mpeg2video -g 12 -bf 2 -b:v 40M -minrate 40M \
        -maxrate 40M -bufsize 9781k -f mpeg2video "$vectors/remux-20s.m2v"
    size=$(stat -c %s "$vectors/remux-20s.m2v")
    copies=$(( (1073741824 + size - 1) / size ))
    # An elementary stream joins as its bytes do; each copy starts with its sequence header.
    : >"$vectors/remux.m2v"
    for copy in $(seq "$copies"); do cat "$vectors/remux-20s.m2v" >>"$vectors/remux.m2v"; done
    rm -f "$vectors/remux-20s.m2v"
    frames=$(/usr/bin/ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets \
        -of default=nw=1:nk=1 "$vectors/remux.m2v")
    if [ "$frames" != $((copies * 500)) ]; then
        echo "the joined video splits into $frames frames, not $((copies * 500))" >&2
        exit 1
    fi
    $ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$((copies * 20))" -ac 2 -c:a ac3 -b:a 448k \
        -f ac3 "$vectors/remux.ac3"
    md5sum <"$vectors/remux.m2v" | cut -d' ' -f1 >"$vectors/remux-video.md5"
    md5sum <"$vectors/remux.ac3" | cut -d' ' -f1 >"$vectors/remux-audio.md5"
    # The test writer holds its inputs and the whole file in memory while it writes.
    /usr/bin/time -f "recording writer: %e s, peak resident %M KiB" \
        wine "$build/bin/remux_bench.exe" make "$(windows "$vectors/remux.m2v")" "$(windows "$vectors/remux.ac3")" \
        "$(windows "$recording.part")"
    mv "$recording.part" "$recording"
    rm -f "$vectors/remux.m2v" "$vectors/remux.ac3"
fi
bytes=$(stat -c %s "$recording")
echo "input: $recording, $bytes bytes"

out="$vectors/out"
rm -rf "$out"
mkdir -p "$out/halvern" "$out/ffmpeg"
results="$vectors/remux-runs.txt"
: >"$results"
now() { date +%s.%N; }
# Both read the recording warm from the page cache.
cat "$recording" >/dev/null

# Wine's server does work for the program (every wait, event and semaphore call goes through it),
# so its processor time is counted with Halvern's (over the whole program, its start included). It
# is kept running for the whole measurement and found by the directory it serves, named for the
# prefix's device and inode.
wineserver -p
server_directory=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server=
for process in /proc/[0-9]*; do
    case "$(readlink "$process/cwd" 2>/dev/null)" in */"$server_directory") server=${process#/proc/} ;; esac
done
server_ticks() { if [ -n "$server" ]; then awk '{ print $14 + $15 }' "/proc/$server/stat"; else echo 0; fi; }
ticks_per_second=$(getconf CLK_TCK)

halvern_run() {
    ticks=$(server_ticks)
    wine "$build/bin/remux_bench.exe" convert "$(windows "$recording")" "$(windows "$out/halvern")" | tr -d '\r' \
        >"$out/halvern.txt"
    ticks=$(( $(server_ticks) - ticks ))
    seconds=$(sed -n 's/^seconds //p' "$out/halvern.txt")
    processor=$(sed -n 's/^processor_seconds //p' "$out/halvern.txt")
    building=$(sed -n 's/^build_seconds //p' "$out/halvern.txt")
    server_seconds=$(echo "$ticks / $ticks_per_second" | bc -l)
    peak=$(sed -n 's/^peak_above_idle //p' "$out/halvern.txt")
    idle=$(sed -n 's/^idle_working_set //p' "$out/halvern.txt")
    [ -n "$seconds" ] || { cat "$out/halvern.txt"; exit 1; }
    echo "halvern $seconds $peak $processor $server_seconds $building" >>"$results"
    printf 'run %d halvern: %.3f s, processor %.2f s + Wine server %.2f s, peak working set %.1f MiB above idle (%.1f MiB)\n' \
        "$1" "$seconds" "$processor" "$server_seconds" "$(echo "$peak / 1048576" | bc -l)" "$(echo "$idle / 1048576" | bc -l)"
}

ffmpeg_run() {
    rm -f "$out/ffmpeg/remux.mpg"
    start=$(now)
    /usr/bin/time -f "%M %U %S" -o "$out/ffmpeg-rss.txt" \
        /usr/bin/ffmpeg -v error -y -i "$recording" -c copy -f vob "$out/ffmpeg/remux.mpg"
    sync "$out/ffmpeg/remux.mpg"
    end=$(now)
    seconds=$(echo "$end - $start" | bc -l)
    set -- "$1" $(tail -n 1 "$out/ffmpeg-rss.txt")
    processor=$(echo "$3 + $4" | bc -l)
    echo "ffmpeg $seconds $(($2 * 1024)) $processor" >>"$results"
    printf 'run %d ffmpeg:  %.3f s, processor %.2f s, maximum resident %.1f MiB\n' "$1" "$seconds" "$processor" \
        "$(echo "$2 / 1024" | bc -l)"
}

for run in 1 2 3 4 5; do
    halvern_run $run
    # The first output is kept for the check below.
    [ $run -eq 1 ] && mv "$out/halvern/remux-1gib.MPG" "$out/checked.MPG"
    ffmpeg_run $run
done
rm -rf "$out/ffmpeg"

# Halvern's output: a program stream with MPEG-2 video and the audio, both unchanged.
streams=$(/usr/bin/ffprobe -v error -show_entries format=format_name:stream=codec_name \
    -of default=nw=1:nk=1 "$out/checked.MPG" | grep . | sort | tr '\n' ' ')
video=$(/usr/bin/ffmpeg -v error -i "$out/checked.MPG" -map 0:v -c copy -f mpeg2video - | md5sum | cut -d' ' -f1)
audio=$(/usr/bin/ffmpeg -v error -i "$out/checked.MPG" -map 0:a -c copy -f ac3 - | md5sum | cut -d' ' -f1)
check="streams: $streams"
failed=
[ "$streams" = "ac3 mpeg mpeg2video " ] || { check="$check (expected ac3 mpeg mpeg2video)"; failed=1; }
if [ "$video" = "$(cat "$vectors/remux-video.md5")" ]; then check="$check; video unchanged"; else
    check="$check; VIDEO DIFFERS"; failed=1; fi
if [ "$audio" = "$(cat "$vectors/remux-audio.md5")" ]; then check="$check; audio unchanged"; else
    check="$check; AUDIO DIFFERS"; failed=1; fi
rm -rf "$out"

median() { grep "^$1 " "$results" | cut -d' ' -f"$2" | sort -g | sed -n 3p; }
maximum() { grep "^$1 " "$results" | cut -d' ' -f"$2" | sort -g | tail -n 1; }
halvern_s=$(median halvern 2)
ffmpeg_s=$(median ffmpeg 2)
echo "--"
printf 'input %.0f MB (media-centre recording, MPEG-2 video 40 Mb/s with B-frames, AC-3 448 kb/s)\n' \
    "$(echo "$bytes / 1000000" | bc -l)"
printf 'halvern ConvertFile, shipped graph: median %.3f s, %.1f MB/s\n' "$halvern_s" \
    "$(echo "$bytes / $halvern_s / 1000000" | bc -l)"
printf 'ffmpeg -c copy -f vob + sync:       median %.3f s, %.1f MB/s\n' "$ffmpeg_s" \
    "$(echo "$bytes / $ffmpeg_s / 1000000" | bc -l)"
printf 'ratio (ffmpeg time / halvern time): %.2f\n' "$(echo "$ffmpeg_s / $halvern_s" | bc -l)"
printf 'halvern graph building (from the call to the graph running): median %.3f s\n' "$(median halvern 6)"
printf 'halvern peak working set above idle: median %.1f MiB, largest %.1f MiB\n' \
    "$(echo "$(median halvern 3) / 1048576" | bc -l)" "$(echo "$(maximum halvern 3) / 1048576" | bc -l)"
printf 'processor time, median: halvern %.2f s + Wine server %.2f s, ffmpeg %.2f s\n' "$(median halvern 4)" \
    "$(median halvern 5)" "$(median ffmpeg 4)"
printf 'ffmpeg maximum resident size: median %.1f MiB, largest %.1f MiB\n' \
    "$(echo "$(median ffmpeg 3) / 1048576" | bc -l)" "$(echo "$(maximum ffmpeg 3) / 1048576" | bc -l)"
echo "halvern output check: $check"
[ -z "$failed" ]
