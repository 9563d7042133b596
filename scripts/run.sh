#!/bin/sh
# Sets up what is missing, builds Halvern and starts it under Wine, in a prefix of its own with the
# shipped graph description chosen.
# - With a $DISPLAY: Halvern runs there until the user closes it.
# - Without one: on an Xvfb display of its own it converts a short sample recording with the
#   Auto Converter, prints what ffprobe says of the MPG, saves a screenshot and closes Halvern.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build="$top/build/x86_64"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake"
fi
cmake --build "$build" --target Halvern HalvernWindow

# A prefix of its own: the test prefix has test filters registered in it. The test suite runs this
# script on a fresh prefix of its own choosing.
export WINEPREFIX="${HALVERN_RUN_PREFIX:-$build/run-prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
graph="Built-in DVR-MS to MPEG.xgr"
key='HKCU\Software\Morrowick\Halvern'
drive_c="$WINEPREFIX/drive_c"

headless=yes
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    headless=
fi

state=$(mktemp -d)
xvfb=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$state"
}
trap cleanup EXIT

if [ -n "$headless" ]; then
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 1 100); do [ -s "$state/display" ] && break; sleep 0.1; done
    [ -s "$state/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(cat "$state/display")"
fi

# The prefix is made (or its server restarted) with the display in place: a wine server started
# without one keeps a desktop that can never show a window.
wineserver -k 2>/dev/null || true
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wine reg add "$key" /v UseFilterGraph /d "$graph" /f >/dev/null 2>&1

if [ -z "$headless" ]; then
    echo "Halvern runs with \"$graph\" chosen. Drive C: is $drive_c"
    wine "$build/bin/Halvern.exe"
    exit 0
fi

# No window manager here: Wine draws the window's caption itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# A short sample recording (MPEG-2 video and MPEG audio in ASF, as a recorder writes them) in an
# input directory of the prefix; the Auto Converter starts with the program and converts it.
sample="$drive_c/Halvern Sample"
rm -rf "$sample"
mkdir -p "$sample/Recorded TV" "$sample/Converted"
/usr/bin/ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25:duration=10 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 \
    -c:v mpeg2video -bf 0 -g 12 -b:v 4M -c:a mp2 -ac 2 -b:a 192k -f asf "$sample/Recorded TV/Sample.dvr-ms"
wine reg add "$key" /v InputPath /d 'C:\Halvern Sample\Recorded TV' /f >/dev/null 2>&1
wine reg add "$key" /v OutputPath /d 'C:\Halvern Sample\Converted' /f >/dev/null 2>&1
wine reg add "$key" /v InputExt /d 'dvr-ms' /f >/dev/null 2>&1
wine reg add "$key" /v OutputExt /d 'MPG' /f >/dev/null 2>&1
wine reg add "$key" /v DeleteSourceFile /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$key" /v AutoStartConvert /t REG_DWORD /d 1 /f >/dev/null 2>&1

# The Auto Converter reports each recording on standard output, " - Done." when it converted.
wine "$build/bin/Halvern.exe" >"$state/halvern.out" 2>/dev/null &
halvern=$!
wine "$build/bin/HalvernWindow.exe" wait 180
output="$sample/Converted/Sample.MPG"
converted=
for _ in $(seq 1 1800); do
    if grep -q -- "- Done\." "$state/halvern.out"; then converted=yes; break; fi
    if grep -q -e "- Failed\." -e "ERROR" "$state/halvern.out"; then break; fi
    kill -0 "$halvern" 2>/dev/null || break
    sleep 0.1
done
shot="$top/build/halvern-screenshot.png"
import -display "$DISPLAY" -window root "$shot"
wine "$build/bin/HalvernWindow.exe" close
wait "$halvern" || true
tr -d '\r' <"$state/halvern.out"
if [ -z "$converted" ] || [ ! -s "$output" ]; then
    echo "The sample recording was not converted." >&2
    exit 1
fi
echo
echo "Converted: $output"
echo "  (in Wine: C:\\Halvern Sample\\Converted\\Sample.MPG)"
/usr/bin/ffprobe -v error -show_entries format=format_name,duration,size:stream=index,codec_name,codec_type,width,height,sample_rate,channels \
    -of default=noprint_wrappers=1 "$output"
echo "Screenshot of Halvern's window: $shot"
echo "Halvern ended."
