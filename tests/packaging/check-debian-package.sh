#!/usr/bin/env bash
# Builds the Debian package, checks it as Debian's tools do, unpacks it into a scratch
# root and runs each program's --version from there, without a display.
set -euo pipefail
build=$1 version=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$scratch"/out/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6widgets6 libasound2 libsndfile1 libsoxr0; do
    [[ $depends == *"$library"* ]] || { echo "Depends lacks $library"; exit 1; }
done

# Warnings are shown; an error fails.
lintian --fail-on error "$deb"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
[ -f "$root/usr/share/applications/zeltextreceiver.desktop" ] || { echo "no desktop entry"; exit 1; }
[ -f "$root/usr/share/icons/hicolor/scalable/apps/zeltextreceiver.svg" ] || { echo "no icon"; exit 1; }
for program in "$@"; do
    [ -f "$root/usr/share/man/man1/$program.1.gz" ] || { echo "no manual page for $program"; exit 1; }
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version)
    [ "$said" = "$program $version" ] || { echo "$program --version said: $said"; exit 1; }
done
echo "package $(basename "$deb"): installs and runs"
