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
# Standard definition as DVD-Video has it: 4:3 pictures within its rates.
mpeg2="-c:v mpeg2video -aspect 4:3 -g 12 -b:v 4M -maxrate 6M -bufsize 1835k"

$ff $video $mpeg2 -bf 0 -f mpeg2video "$out/es/video.m2v"
$ff $video $mpeg2 -bf 2 -f mpeg2video "$out/es/video-bframes.m2v"
$ff $tone -ac 2 -c:a mp2 -b:a 192k -f mp2 "$out/es/audio.mp2"
$ff $tone -ac 2 -c:a ac3 -b:a 192k -f ac3 "$out/es/audio.ac3"
# Broadcast kinds above the DVD's rates, noise keeping the encoder at its rate: 1080i and 1440x1080i
# with a broadcaster's maximum rate and VBV (ATSC's 7 995 392 bits), 1080i without a maximum
# (the sequence header then says 0x3FFFF), SD at 15 and 40 Mb/s, and 5.1 AC-3.
hd="-f lavfi -i testsrc2=rate=30000/1001:duration=3"
interlaced="-c:v mpeg2video -flags +ilme+ildct -top 1 -g 15 -bf 2"
noise="noise=alls=12:allf=t"
$ff $hd:size=1920x1080 -vf $noise $interlaced -b:v 18M -maxrate 19M -bufsize 7995392 -f mpeg2video "$out/es/hd-1080i.m2v"
$ff $hd:size=1920x1080 -vf $noise $interlaced -b:v 18M -f mpeg2video "$out/es/hd-1080i-nomax.m2v"
$ff $hd:size=1440x1080 -vf $noise $interlaced -b:v 12M -maxrate 13M -bufsize 7995392 -f mpeg2video "$out/es/hd-1440.m2v"
sd="-f lavfi -i testsrc2=size=720x576:rate=25:duration=3"
$ff $sd -vf noise=alls=20:allf=t -c:v mpeg2video -flags +ilme+ildct -top 1 -g 12 -bf 2 -b:v 15M -maxrate 15M \
    -bufsize 1835k -f mpeg2video "$out/es/sd-15m.m2v"
$ff $sd -vf noise=alls=40:allf=t -c:v mpeg2video -g 12 -bf 2 -b:v 40M -minrate 40M -maxrate 40M -bufsize 9781k \
    -f mpeg2video "$out/es/sd-40m.m2v"
$ff $tone -af aformat=channel_layouts=5.1 -c:a ac3 -b:a 448k -f ac3 "$out/es/audio-5.1.ac3"
# Sequence headers the video-header test reads beside ffprobe: a rate made with frame_rate_extension
# (25 * 3/5), and High profile at 720p50.
$ff -f lavfi -i testsrc=size=352x288:rate=15:duration=1 -c:v mpeg2video -f mpeg2video "$out/es/ext-15fps.m2v"
$ff -f lavfi -i testsrc=size=1280x720:rate=50:duration=1 -c:v mpeg2video -profile:v 1 -level:v 4 -b:v 15M -maxrate 20M \
    -bufsize 4M -f mpeg2video "$out/es/high-720p50.m2v"
# ASF carries one time per object: no B-frames in the plain ASF vector.
$ff $video $tone $mpeg2 -bf 0 -c:a mp2 -ac 2 -b:a 192k -f asf "$out/plain-mp2.asf"
# WTV as ffmpeg writes it (every stream wrapped as a recorder wraps it), B-frames included: MPEG-2
# with MP2 or AC-3, and H.264. Beside each, what ffmpeg copies out of it (the elementary streams)
# and ffprobe's packet times in 100 ns, in file order.
mkdir -p "$out/wtv"
for pair in "mp2 mp2 mp2" "ac3 ac3 ac3"; do
    set -- $pair
    $ff $video $tone $mpeg2 -bf 2 -c:a $2 -ac 2 -b:a 192k -f wtv "$out/wtv/mpeg2-$1.wtv"
    $ff -i "$out/wtv/mpeg2-$1.wtv" -map 0:v -c copy -f mpeg2video "$out/wtv/mpeg2-$1.m2v"
    $ff -i "$out/wtv/mpeg2-$1.wtv" -map 0:a -c copy -f $3 "$out/wtv/mpeg2-$1.$3"
    for kind in v a; do
        /usr/bin/ffprobe -v error -select_streams $kind -show_entries packet=pts -of csv=p=0 \
            "$out/wtv/mpeg2-$1.wtv" >"$out/wtv/mpeg2-$1.$kind.times"
    done
done
# The media centre's protection flag, written by ffmpeg as text (a test makes it the flag's BOOL).
$ff $video $tone $mpeg2 -c:a mp2 -ac 2 -b:a 192k -metadata WM/WMRVContentProtected=1 -f wtv "$out/wtv/marked.wtv"
# The metadata that names outputs, as ffmpeg writes it: each a text attribute.
$ff $video $tone $mpeg2 -c:a mp2 -ac 2 -b:a 192k -metadata title="Show: Part 1/2" -metadata WM/SubTitle=Pilot \
    -metadata WM/MediaStationCallSign=WXYZ -metadata WM/MediaOriginalBroadcastDateTime=2009-05-01T00:00:00Z \
    -f wtv "$out/wtv/titled.wtv"
$ff $video $tone -c:v libx264 -g 12 -c:a ac3 -ac 2 -b:a 192k -f wtv "$out/wtv/h264-ac3.wtv"
# H.264 as HD channels are recorded: SD with B-frames and AAC (raw, its config in the type), 1080i
# (x264's interlaced coding) with E-AC-3, and SD with ADTS AAC copied in (ffmpeg then labels it
# raw) or LOAS/LATM. Beside each, ffmpeg's copy of each stream's bytes and ffprobe's packet times (100 ns).
$ff $tone -ac 2 -c:a aac -b:a 128k -f adts "$out/wtv/audio.adts"
$ff $tone -ac 2 -c:a aac -b:a 128k -f latm "$out/wtv/audio.latm"
$ff $video $tone -c:v libx264 -g 12 -bf 2 -c:a aac -ac 2 -b:a 128k -f wtv "$out/wtv/h264-aac.wtv"
$ff -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=2 $tone -c:v libx264 -preset ultrafast \
    -x264opts interlaced=1 -g 15 -bf 2 -c:a eac3 -b:a 192k -f wtv "$out/wtv/h264i-eac3.wtv"
$ff $video -i "$out/wtv/audio.adts" -map 0:v -map 1:a -c:v libx264 -g 12 -bf 0 -c:a copy -f wtv "$out/wtv/h264-adts.wtv"
$ff $video -i "$out/wtv/audio.latm" -map 0:v -map 1:a -c:v libx264 -g 12 -c:a copy -f wtv "$out/wtv/h264-latm.wtv"
for name in h264-aac h264i-eac3 h264-adts h264-latm; do
    $ff -i "$out/wtv/$name.wtv" -map 0:v -c copy -f h264 "$out/wtv/$name.h264"
    $ff -i "$out/wtv/$name.wtv" -map 0:a -c copy -f data "$out/wtv/$name.audio"
    /usr/bin/ffprobe -v error -select_streams v -show_entries packet=pts,dts -of csv=p=0 "$out/wtv/$name.wtv" \
        >"$out/wtv/$name.v.times"
done
/usr/bin/ffprobe -v error -select_streams a -show_entries packet=pts -of csv=p=0 "$out/wtv/h264i-eac3.wtv" \
    >"$out/wtv/h264i-eac3.a.times"
for kind in adts latm; do
    /usr/bin/ffprobe -v error -show_entries packet=pts_time -of csv=p=0 "$out/wtv/audio.$kind" >"$out/wtv/audio.$kind.times"
done
# The reception corpus (tests/convert/ReceptionCorpusTest.cpp): ten seconds of DVD-compliant SD
# with and without B-frames and its sound in MP2 and AC-3, fifteen of sound for the longer kinds;
# and the parts of streams that change format, which the recording writer joins: SD that becomes
# 1080i at 15 Mb/s (at the SD's 25 frames), SD that goes from 4:3 to 16:9, AC-3 that goes from 2.0
# at 192k to 5.1 at 448k; and
# H.264 as HD channels send it, SD with B-frames and 1080i (x264's interlaced coding).
mkdir -p "$out/corpus"
sd10="-f lavfi -i testsrc=size=720x576:rate=25:duration=10"
$ff $sd10 $mpeg2 -bf 0 -f mpeg2video "$out/corpus/sd.m2v"
$ff $sd10 $mpeg2 -bf 2 -f mpeg2video "$out/corpus/sd-bframes.m2v"
$ff $sd10 -c:v libx264 -preset veryfast -g 12 -bf 2 -b:v 3M -f h264 "$out/corpus/sd.h264"
$ff -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=10 -c:v libx264 -preset ultrafast -x264opts interlaced=1 \
    -g 15 -bf 2 -b:v 8M -f h264 "$out/corpus/hd-1080i.h264"
for seconds in 10 15; do
    tone="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=$seconds"
    $ff $tone -ac 2 -c:a mp2 -b:a 192k -f mp2 "$out/corpus/audio-$seconds.mp2"
    $ff $tone -ac 2 -c:a ac3 -b:a 192k -f ac3 "$out/corpus/audio-$seconds.ac3"
done
$ff -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=5 -vf $noise -c:v mpeg2video -flags +ilme+ildct -top 1 -g 12 -bf 2 \
    -b:v 15M -maxrate 15M -bufsize 7995392 -f mpeg2video "$out/corpus/switch-hd.m2v"
$ff -f lavfi -i testsrc=size=720x576:rate=25:duration=5 $mpeg2 -aspect 16:9 -bf 2 -f mpeg2video "$out/corpus/switch-wide.m2v"
tone="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=5"
$ff $tone -ac 2 -c:a ac3 -b:a 192k -f ac3 "$out/corpus/switch-2.0.ac3"
$ff $tone -af aformat=channel_layouts=5.1 -c:a ac3 -b:a 448k -f ac3 "$out/corpus/switch-5.1.ac3"
echo "$sum" >"$stamp"
echo "Test vectors ready in $out"
