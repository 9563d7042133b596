#!/bin/sh
# Once per test run: short test vectors made by ffmpeg into the directory given. Elementary
# streams (es/) feed the test-side recording writer and the multiplexer tests; plain ASF files
# are read as they are.
set -e
out="$1"
stamp="$out/.made-by"
# Remade when this script changes.
sum=$(md5sum "$0" | cut -d' ' -f1)
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ] && exit 0
rm -rf "$out"
mkdir -p "$out/es"
ff="/usr/bin/ffmpeg -v error -y"
video="-f lavfi -i testsrc=size=720x576:rate=25:duration=3"
tone="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3"
mpeg2="-c:v mpeg2video -g 12 -b:v 4M -maxrate 6M -bufsize 1835k"

$ff $video $mpeg2 -bf 0 -f mpeg2video "$out/es/video.m2v"
$ff $video $mpeg2 -bf 2 -f mpeg2video "$out/es/video-bframes.m2v"
$ff $tone -ac 2 -c:a mp2 -b:a 192k -f mp2 "$out/es/audio.mp2"
$ff $tone -ac 2 -c:a ac3 -b:a 192k -f ac3 "$out/es/audio.ac3"
# ASF carries one time per object: no B-frames in plain ASF vectors.
$ff $video $tone $mpeg2 -bf 0 -c:a mp2 -ac 2 -b:a 192k -f asf "$out/plain-mp2.asf"
$ff $video $tone $mpeg2 -bf 0 -c:a ac3 -ac 2 -b:a 192k -f asf "$out/plain-ac3.asf"
echo "$sum" >"$stamp"
echo "Test vectors ready in $out"
