#!/bin/sh
# Sets up what is missing, builds Halvern and starts it under Wine. On $DISPLAY when there is
# one, until the user closes it; otherwise on an Xvfb display of its own, where it waits for the
# window, saves a screenshot and closes Halvern as its close button would.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build="$top/build/x86_64"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake"
fi
cmake --build "$build" --target Halvern HalvernWindow

# A prefix of its own: the test prefix has test filters registered in it.
export WINEPREFIX="$build/run-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    wine "$build/bin/Halvern.exe"
    exit 0
fi

state=$(mktemp -d)
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$state/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$state/display")"
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$state"; }
trap cleanup EXIT

# No window manager here: Wine draws the window's caption itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wine "$build/bin/Halvern.exe" &
halvern=$!
wine "$build/bin/HalvernWindow.exe" wait 180
shot="$top/build/halvern-screenshot.png"
import -display "$DISPLAY" -window root "$shot"
echo "Screenshot of Halvern's window: $shot"
wine "$build/bin/HalvernWindow.exe" close
wait "$halvern"
echo "Halvern ended."
