#!/bin/sh
# install-test.sh <source folder> <build folder> <version> <windres>
# Makes the 64-bit zip and installer from this build's bin/ and checks them: the zip holds exactly
# the release's files; a silent install into a fresh Wine prefix puts the program, its shortcut and
# its uninstall entry in place; the installed files carry the project version; the installed
# Halvern.exe shows its window, and the uninstaller refuses to run meanwhile; a silent uninstall
# removes all the installer put there and keeps the user's settings.
set -eu
src=$1 build=$2 version=$3 windres=$4
. "$build/test-state/wine-env.sh" # the run's display
work="$HALVERN_TEST_STATE/package"
dist="$work/dist"
zip="$dist/Halvern-$version-win64.zip"
setup="$dist/Halvern-$version-win64-setup.exe"
graph="Built-in DVR-MS to MPEG.xgr"
ts_graph="Built-in recording to MPEG-TS.xgr"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
cleanup() {
    # Only this test's own prefix's server; the prefix is too big to keep.
    if [ "${WINEPREFIX:-}" = "$work/prefix" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true # it writes the registry files as it ends
        rm -rf "$work/prefix" "$work/home"
    fi
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work"
"$src/package/make-release.sh" "$build/bin" "$version" amd64 "$dist" >/dev/null

# The zip: exactly the release's files; the read-me for Notepad, with the version filled in.
printf '%s\n' Halvern.exe HalvernFilters.dll "$graph" "$ts_graph" README.txt | sort >"$work/zip-expected"
unzip -Z1 "$zip" | sort >"$work/zip-actual"
diff -u "$work/zip-expected" "$work/zip-actual" || fail "the zip holds other files than expected"
unzip -p "$zip" README.txt >"$work/README.txt"
cr=$(printf '\r')
grep -q "^Version $version$cr\$" "$work/README.txt" || fail "README.txt lacks its version line in CRLF"
! grep -q -e "[^$cr]\$" -e "^\$" "$work/README.txt" || fail "README.txt has a line without CR LF"
! grep -q '@VERSION@' "$work/README.txt" || fail "README.txt has an unfilled version"

# Per-user: the installer must not ask for administrator rights.
grep -a -q 'requestedExecutionLevel level="asInvoker"' "$setup" || fail "the installer asks for elevation"

# A fresh prefix of the test's own, made with the display in place (see scripts/run.sh); no
# menu entries in the Linux desktop from the shortcut.
export WINEPREFIX="$work/prefix" HOME="$work/home"
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$HOME"
wineboot -i </dev/null >"$work/wineboot.log" 2>&1 || fail "wineboot of a fresh prefix failed"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

windows_folder() { # a folder variable of Wine's environment, as a Unix path
    winepath -u "$(wine cmd /c echo "%$1%" </dev/null | tr -d '\r')" | sed 's|/$||'
}
instdir="$(windows_folder LOCALAPPDATA)/Programs/Halvern"
shortcut="$(windows_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Halvern.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halvern'
settings_key='HKCU\Software\Morrowick\Halvern'
reg_value() { # the data of one registry value, empty when it is missing
    wine reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

wine "$setup" /S </dev/null || fail "the silent install failed"
wineserver -w

for file in Halvern.exe HalvernFilters.dll "$graph" "$ts_graph" README.txt Uninstall.exe; do
    [ -f "$instdir/$file" ] || fail "not installed: $instdir/$file"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut at $shortcut"
grep -a -q 'Programs\\Halvern\\Halvern.exe' "$shortcut" || fail "the shortcut does not start the installed Halvern.exe"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ] || fail "no uninstall entry of version $version"
reg_value "$uninstall_key" UninstallString | grep -q 'Programs\\Halvern\\Uninstall.exe"$' ||
    fail "the uninstall entry does not name the installed uninstaller"

# The shipped binaries carry the version in their version resources, and the about box shows it.
for file in Halvern.exe HalvernFilters.dll; do
    "$windres" -J coff -i "$instdir/$file" -O rc >"$work/$file.rc" 2>/dev/null ||
        fail "cannot read the resources of the installed $file"
    major=${version%%.*} rest=${version#*.}
    grep -q "FILEVERSION $major, ${rest%%.*}, ${rest#*.}, 0" "$work/$file.rc" ||
        fail "$file's version resource is not $version"
    grep -q "VALUE \"ProductVersion\", \"$version\"" "$work/$file.rc" || fail "$file's product version is not $version"
done
grep -q "\"Halvern, Version $version\"" "$work/Halvern.exe.rc" || fail "the about box does not show version $version"

# The installed program starts and shows its window; closing it saves its settings.
wine "$instdir/Halvern.exe" </dev/null >/dev/null 2>&1 &
halvern=$!
wine "$build/bin/HalvernWindow.exe" wait 60 </dev/null || fail "the installed Halvern.exe showed no window"
# Not while it runs and holds its files: the uninstaller, run in place, refuses and leaves them all.
if wine "$instdir/Uninstall.exe" /S "_?=$(winepath -w "$instdir")" </dev/null; then
    fail "the uninstaller ran while Halvern was running"
fi
[ -f "$instdir/Halvern.exe" ] && [ -f "$instdir/Uninstall.exe" ] || fail "the refused uninstall removed files"
wine "$build/bin/HalvernWindow.exe" close </dev/null || fail "cannot close Halvern's window"
wait "$halvern" || true
[ "$(reg_value "$settings_key" OutputExt)" = MPG ] || fail "Halvern saved no settings"

# The uninstaller runs on as a copy of itself; the prefix's server ends when it has finished.
wine "$instdir/Uninstall.exe" /S </dev/null || fail "the silent uninstall failed"
wineserver -w
[ ! -e "$instdir" ] || fail "the uninstall left $(ls "$instdir" | tr '\n' ' ')in $instdir"
[ ! -e "$shortcut" ] || fail "the uninstall left the shortcut"
! wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1 || fail "the uninstall left its entry"
[ "$(reg_value "$settings_key" OutputExt)" = MPG ] || fail "the silent uninstall removed the settings"

echo "Installed, started and uninstalled Halvern $version"
