#!/bin/sh
# make-release.sh <bin folder of a build> <version> <x86|amd64> <output folder>
# Makes the zip and the installer of one word size from a build's bin/:
#   x86:   Halvern-<version>-win32.zip and Halvern-<version>-setup.exe
#   amd64: Halvern-<version>-win64.zip and Halvern-<version>-win64-setup.exe
# The files are stripped of their symbols on the way: users get no use of them.
set -e
[ $# -eq 4 ] || { echo "usage: $0 <bin folder> <version> <x86|amd64> <output folder>" >&2; exit 2; }
bin=$1 version=$2 arch=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
case $arch in
    x86) strip=i686-w64-mingw32-strip zip_name="Halvern-$version-win32.zip" setup_name="Halvern-$version-setup.exe" ;;
    amd64) strip=x86_64-w64-mingw32-strip zip_name="Halvern-$version-win64.zip" setup_name="Halvern-$version-win64-setup.exe" ;;
    *) echo "unknown word size: $arch" >&2; exit 2 ;;
esac
graph="Built-in DVR-MS to MPEG.xgr"
ts_graph="Built-in recording to MPEG-TS.xgr"

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/stage-$arch"
rm -rf "$stage"
mkdir -p "$stage"
for binary in Halvern.exe HalvernFilters.dll; do
    [ -f "$bin/$binary" ] || { echo "$bin/$binary is missing: build the target Halvern first" >&2; exit 1; }
    "$strip" -o "$stage/$binary" "$bin/$binary"
done
for g in "$graph" "$ts_graph"; do
    [ -f "$bin/$g" ] || { echo "$bin/$g is missing: build the target Halvern first" >&2; exit 1; }
    cp "$bin/$g" "$stage/"
done
# Notepad before Windows 10 shows a file of bare line feeds as one long line.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$here/README.txt" >"$stage/README.txt"

rm -f "$out/$zip_name"
(cd "$stage" && zip -q -X -9 "$out/$zip_name" Halvern.exe HalvernFilters.dll "$graph" "$ts_graph" README.txt)

# makensis runs in the script's folder, where the script finds the icon.
makensis -V2 -DVERSION="$version" -DARCH="$arch" -DSTAGE="$stage" -DOUTFILE="$out/$setup_name" \
    "$here/Halvern.nsi"
rm -rf "$stage"
echo "$out/$zip_name"
echo "$out/$setup_name"
