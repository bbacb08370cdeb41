#!/usr/bin/env bash
# Renders brisquet.svg to the program icon and writes the committed files
# beside this script: brisquet-<size>.png for 16 to 256 pixels and
# brisquet.ico with the four images of the Windows icon group, 32x32 at
# 24 bits, 256x256, 128x128 and 48x48 at 32 bits with alpha, in that order;
# and the same four images as raw pixels, group1/<side>.bgra: 8-bit blue,
# green, red, alpha per pixel, colours premultiplied by alpha, rows top to
# bottom. That is Qt's premultiplied ARGB32 as a little-endian machine holds
# it, so the program uses the images as its window icon straight from its
# own memory, with nothing to decode or convert at start-up.
# The build embeds the results and never runs this.
# Needs: librsvg2-bin (rsvg-convert), imagemagick (convert), icoutils (icotool).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" brisquet.svg -o "brisquet-$size.png"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 24 bits: no alpha channel, so the 32x32 image is laid on white.
convert brisquet-32.png -background white -alpha remove -alpha off -type TrueColor \
    -define png:color-type=2 "$work/brisquet-32-rgb.png"
# The 256x256 image is stored PNG-compressed, as Windows expects at that size.
icotool -c -o brisquet.ico "$work/brisquet-32-rgb.png" --raw=brisquet-256.png \
    brisquet-128.png brisquet-48.png
rm -rf group1 && mkdir group1
for size in 32 48 128 256; do
    convert "brisquet-$size.png" -depth 8 "rgba:$work/$size.rgba"
    python3 - "$work/$size.rgba" "group1/$size.bgra" <<'PY'
import sys
rgba = open(sys.argv[1], 'rb').read()
out = bytearray(len(rgba))
for i in range(0, len(rgba), 4):
    r, g, b, a = rgba[i:i + 4]
    out[i:i + 4] = bytes((round(b * a / 255), round(g * a / 255), round(r * a / 255), a))
open(sys.argv[2], 'wb').write(out)
PY
done
icotool -l brisquet.ico
