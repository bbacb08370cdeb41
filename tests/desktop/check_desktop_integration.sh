#!/usr/bin/env bash
# Brisquet as a Linux desktop sees it: the desktop entry and the AppStream
# metainfo validate, an install into a scratch folder holds every file under
# the one application id and validates as a tree, and the Debian package
# holds the same files with its library dependencies filled in.
# Usage: check_desktop_integration.sh <source-dir> <build-dir> <scratch-dir> <app-id>
set -euo pipefail
source=$1 build=$2 scratch=$3 id=$4
rm -rf "$scratch"; mkdir -p "$scratch"

desktop-file-validate "$source/resources/desktop/$id.desktop"
appstreamcli validate --no-net --explain "$source/resources/desktop/$id.metainfo.xml"

tree=$scratch/tree
DESTDIR=$tree cmake --install "$build" --prefix /usr >/dev/null
expected=(usr/bin/brisquet usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
          usr/share/icons/hicolor/scalable/apps/$id.svg)
for size in 16 22 32 48 64 128 256; do
    expected+=(usr/share/icons/hicolor/${size}x${size}/apps/$id.png)
done
for file in "${expected[@]}"; do
    [ -s "$tree/$file" ] || { echo "not installed: $file"; exit 1; }
done
for size in 16 22 32 48 64 128 256; do # each PNG is the size its folder says
    file "$tree/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "$size x $size" \
        || { echo "wrong size: ${size}x${size}/apps/$id.png"; exit 1; }
done
appstreamcli validate-tree --no-net --explain "$tree"

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/brisquet_*.deb)
info=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
echo "Depends: $depends"
for needed in libqt6widgets6 libsdl2 libpulse0 libpipewire-0.3-0 libstdc++6 qt6-qpa-plugins fonts-liberation; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed"; exit 1; }
done
contents=$(dpkg-deb -c "$deb")
for file in "${expected[@]}"; do
    grep -q " \./$file\$" <<<"$contents" || { echo "not in the package: $file"; exit 1; }
done
echo "package $(basename "$deb"): ${#expected[@]} files checked"
