#!/usr/bin/env bash
# Compiles Brisquet's Windows resource script with mingw's windres, reads the
# compiled resources back, and checks the icon group and the version block;
# then checks that the icon file holds the four images of the program icon.
# usage: check_windows_resources.sh <resources folder> <scratch folder>
set -euo pipefail
resources=$1 scratch=$2
mkdir -p "$scratch"
failures=0
expect() { # what, text, pattern
    if grep -qF -- "$3" <<<"$2"; then echo "ok: $1"; else echo "FAIL: $1: no '$3'"; failures=$((failures + 1)); fi
}

# The host's C preprocessor serves: the script includes no Windows header.
x86_64-w64-mingw32-windres --preprocessor=cpp -I "$resources" -i "$resources/brisquet.rc" \
    -O coff -o "$scratch/brisquet.res.o"
x86_64-w64-mingw32-windres -i "$scratch/brisquet.res.o" -O rc -o "$scratch/readback.rc"
readback=$(cat "$scratch/readback.rc")
expect "icon group 1" "$readback" "1 14 /* RT_GROUP_ICON */"
expect "four images in the group" "$readback" "Has 4 elements"
expect "string block 040904B0" "$readback" 'BLOCK "040904B0"'
for value in 'FileVersion", "7.00' 'ProductVersion", "7.00' 'CompanyName", "Quernwick' \
             'ProductName", "Brisquet' 'InternalName", "Brisquet' 'OriginalFilename", "Brisquet.exe'; do
    expect "$value" "$readback" "$value"
done
expect "translation U.S. English, code page 1200" "$readback" '"Translation", 0x409, 1200'

images=$(icotool -l "$resources/icon/brisquet.ico")
expect "32x32 at 24 bits" "$images" "--width=32 --height=32 --bit-depth=24"
for size in 256 128 48; do
    expect "${size}x${size} at 32 bits" "$images" "--width=$size --height=$size --bit-depth=32"
done
[ "$(wc -l <<<"$images")" -eq 4 ] && echo "ok: four images" || { echo "FAIL: not four images"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ]
