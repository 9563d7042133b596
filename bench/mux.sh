#!/bin/sh
# Multiplexing + writing ~1 GiB of elementary streams (MPEG-2 video, AC-3) with Halvern's program
# stream multiplexer, beside ffmpeg's "-f vob" remux of the same pair, both flushed to disk. Then
# the overhead of both outputs (bytes beyond the elementary streams, per second of content) for that
# SD pair and for an HD one (1080i at 18 Mb/s, AC-3 5.1).
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
sd_seconds=$((60 * 24))
# Thirty seconds of 1080i as broadcast (noise holds the encoder at its rate), with 5.1 AC-3.
hd_seconds=30
if [ ! -f "$data/hd.m2v" ] || [ ! -f "$data/hd.ac3" ]; then
    ff="ffmpeg -v error -y"
    $ff -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001:duration=$hd_seconds" -vf noise=alls=12:allf=t \
        -c:v mpeg2video -flags +ilme+ildct -top 1 -g 15 -bf 2 -b:v 18M -maxrate 19M -bufsize 7995392 \
        -f mpeg2video "$data/hd.m2v.part"
    $ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$hd_seconds" -af aformat=channel_layouts=5.1 \
        -c:a ac3 -b:a 448k -f ac3 "$data/hd.ac3"
    mv "$data/hd.m2v.part" "$data/hd.m2v"
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
sd_ffmpeg_size=$(stat -c %s "$data/ffmpeg.mpg")
rm -f "$data/ffmpeg.mpg"

# The program prints its own figures (timed inside, from first read to FlushFileBuffers) and
# its peak memory; the maximum resident size of the Wine process is measured from outside too.
/usr/bin/time -f "wine process peak resident: %M KiB" -o "$data/time.txt" \
    wine "$build/bin/mux_bench.exe" "$(winepath -w "$data/video.m2v")" "$(winepath -w "$data/audio.ac3")" \
    "$(winepath -w "$data/halvern.mpg")" | tee "$data/halvern.txt"
cat "$data/time.txt"
halvern_mbs=$(sed -n 's/^rate: \([0-9.]*\) MB\/s.*/\1/p' "$data/halvern.txt" | tr -d '\r')
ffprobe -v warning -show_entries format=format_name,duration:stream=codec_name -of compact=p=0 "$data/halvern.mpg"
sd_halvern_size=$(stat -c %s "$data/halvern.mpg")
rm -f "$data/halvern.mpg"
printf "ffmpeg -f vob + sync: %.1f MB/s\n" "$ffmpeg_mbs"
printf "halvern: %.1f MB/s\n" "$halvern_mbs"
printf "ratio: %.2f\n" "$(echo "$halvern_mbs / $ffmpeg_mbs" | bc -l)"

# The HD pair through both, untimed.
hd_bytes=$(( $(stat -c %s "$data/hd.m2v") + $(stat -c %s "$data/hd.ac3") ))
ffmpeg -v error -y -i "$data/hd.m2v" -i "$data/hd.ac3" -c copy -f vob "$data/ffmpeg.mpg"
hd_ffmpeg_size=$(stat -c %s "$data/ffmpeg.mpg")
wine "$build/bin/mux_bench.exe" "$(winepath -w "$data/hd.m2v")" "$(winepath -w "$data/hd.ac3")" \
    "$(winepath -w "$data/halvern.mpg")" >/dev/null
hd_halvern_size=$(stat -c %s "$data/halvern.mpg")
rm -f "$data/ffmpeg.mpg" "$data/halvern.mpg"

# Overhead: output bytes beyond the elementary streams, per second of content and as a share of
# the streams; and Halvern's output size against ffmpeg's.
overhead() { # name, elementary bytes, seconds, halvern size, ffmpeg size
    printf '%s overhead: halvern %.0f B/s (%.2f%%), ffmpeg -f vob %.0f B/s (%.2f%%); output halvern/ffmpeg %.4f\n' "$1" \
        "$(echo "($4 - $2) / $3" | bc -l)" "$(echo "($4 - $2) * 100 / $2" | bc -l)" \
        "$(echo "($5 - $2) / $3" | bc -l)" "$(echo "($5 - $2) * 100 / $2" | bc -l)" "$(echo "$4 / $5" | bc -l)"
}
overhead "SD (720x576 8 Mb/s, AC-3 448 kb/s, ${sd_seconds} s)" "$bytes" "$sd_seconds" "$sd_halvern_size" "$sd_ffmpeg_size"
overhead "HD (1080i 18 Mb/s, AC-3 5.1 448 kb/s, ${hd_seconds} s)" "$hd_bytes" "$hd_seconds" "$hd_halvern_size" "$hd_ffmpeg_size"
