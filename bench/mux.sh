#!/bin/sh
# Multiplexing + writing ~1 GiB of elementary streams (MPEG-2 video, AC-3) with Halvern's program
# stream multiplexer, beside ffmpeg's "-f vob" remux of the same pair, both flushed to disk.
# Build and streams live under build/bench-mux (the streams are made once, by ffmpeg).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench-mux"
data="$build/streams"
mkdir -p "$data"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target mux_bench >/dev/null

# A minute of DVD-rate material, repeated: elementary streams join end to end as they are.
if [ ! -f "$data/video.m2v" ] || [ ! -f "$data/audio.ac3" ]; then
    ff="ffmpeg -v error -y"
    $ff -f lavfi -i testsrc2=size=720x576:rate=25:duration=60 -c:v mpeg2video -g 12 -bf 2 \
        -b:v 8M -maxrate 9M -bufsize 1835k -f mpeg2video "$data/clip.m2v"
    $ff -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -ac 2 -c:a ac3 -b:a 448k -f ac3 "$data/clip.ac3"
    : >"$data/video.m2v.part"
    : >"$data/audio.ac3.part"
    for i in $(seq 24); do
        cat "$data/clip.m2v" >>"$data/video.m2v.part"
        cat "$data/clip.ac3" >>"$data/audio.ac3.part"
    done
    mv "$data/video.m2v.part" "$data/video.m2v"
    mv "$data/audio.ac3.part" "$data/audio.ac3"
    rm -f "$data/clip.m2v" "$data/clip.ac3"
fi
bytes=$(( $(stat -c %s "$data/video.m2v") + $(stat -c %s "$data/audio.ac3") ))
echo "input: $bytes bytes"

export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT

now() { date +%s.%N; }
# Warm the page cache for both, so neither pays for the first read.
cat "$data/video.m2v" "$data/audio.ac3" >/dev/null

start=$(now)
ffmpeg -v error -y -i "$data/video.m2v" -i "$data/audio.ac3" -c copy -f vob "$data/ffmpeg.mpg"
sync -f "$data/ffmpeg.mpg"
end=$(now)
ffmpeg_mbs=$(echo "$bytes / 1000000 / ($end - $start)" | bc -l)
rm -f "$data/ffmpeg.mpg"

# The program prints its own figures (timed inside, from first read to FlushFileBuffers) and
# its peak memory; the maximum resident size of the Wine process is measured from outside too.
/usr/bin/time -f "wine process peak resident: %M KiB" -o "$data/time.txt" \
    wine "$build/bin/mux_bench.exe" "$(winepath -w "$data/video.m2v")" "$(winepath -w "$data/audio.ac3")" \
    "$(winepath -w "$data/halvern.mpg")" | tee "$data/halvern.txt"
cat "$data/time.txt"
halvern_mbs=$(sed -n 's/^rate: \([0-9.]*\) MB\/s.*/\1/p' "$data/halvern.txt" | tr -d '\r')
ffprobe -v warning -show_entries format=format_name,duration:stream=codec_name -of compact=p=0 "$data/halvern.mpg"
rm -f "$data/halvern.mpg"
printf "ffmpeg -f vob + sync: %.1f MB/s\n" "$ffmpeg_mbs"
printf "halvern: %.1f MB/s\n" "$halvern_mbs"
printf "ratio: %.2f\n" "$(echo "$halvern_mbs / $ffmpeg_mbs" | bc -l)"
