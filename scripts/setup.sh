#!/bin/sh
# Installs what building and testing Halvern need, only what is missing. Run as root.
set -e
packages="cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    googletest wine wine64 xvfb x11-utils imagemagick ffmpeg nsis zip unzip
    vlc-bin vlc-plugin-base mediainfo dvdauthor tstools
    gstreamer1.0-tools gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-bad"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
