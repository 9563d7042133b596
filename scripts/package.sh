#!/bin/sh
# Sets up what is missing, builds Halvern in Release for both word sizes and makes the release
# under build/dist/:
#   Halvern-<version>-win32.zip, Halvern-<version>-setup.exe        the 32-bit product
#   Halvern-<version>-win64.zip, Halvern-<version>-win64-setup.exe  the same for 64-bit Windows
# The version is the project version of CMakeLists.txt.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dist="$top/build/dist"
for arch in i686 x86_64; do
    dir="$top/build/release-$arch"
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVERN_TESTS=OFF \
            -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake"
    fi
    cmake --build "$dir" --target Halvern
    version=$(sed -n 's/^#define HALVERN_VERSION_TEXT "\(.*\)"$/\1/p' "$dir/generated/res/Version.h")
    [ -n "$version" ] || { echo "No version in $dir/generated/res/Version.h" >&2; exit 1; }
    case $arch in i686) word=x86 ;; x86_64) word=amd64 ;; esac
    "$top/package/make-release.sh" "$dir/bin" "$version" "$word" "$dist" >/dev/null
done
cd "$dist"
for zip in "Halvern-$version-win32.zip" "Halvern-$version-win64.zip"; do
    unzip -l "$zip"
done
ls -l "Halvern-$version-"*
