#!/usr/bin/env bash
# Makes ui/win32/ornivex.ico, the Windows program's icon, from the picture the
# Qt window shows, ui/qt/icons/ornivex.png: the sizes Windows asks for (16 to
# 48 pixels for the title bar, the taskbar and Explorer's lists at 100 to 300 %,
# 64 and 256 for its large icons), the 256-pixel one PNG-compressed, the others
# 32-bit bitmaps with an alpha channel. The icon is committed, so that building
# the program needs no image tools (a native build on Windows has none); run
# this after changing the picture.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure_packages.sh
ensure_packages icoutils netpbm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 20 24 32 40 48 64 256; do
    pngtopam -alphapam ui/qt/icons/ornivex.png | pamscale -width "$size" -height "$size" -filter=lanczos \
        | pamdepth 255 | pamtopng >"$work/$size.png"
done
icotool --create --output=ui/win32/ornivex.ico "$work"/{16,20,24,32,40,48,64}.png --raw="$work/256.png"
icotool --list ui/win32/ornivex.ico
