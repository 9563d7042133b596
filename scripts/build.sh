#!/bin/sh
# Configures (once) and builds one target: build.sh x86_64|i686
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86_64}
dir="$top/build/$arch"
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake"
fi
cmake --build "$dir"
