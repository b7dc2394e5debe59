#!/usr/bin/env bash
# Redraws the icon theme's pictures res/icons/quorvel-SIZE.png from res/quorvel.mvg with
# ImageMagick. The drawing's coordinates name pixel centres on a 32-pixel grid, so a larger picture
# moves them by half a scaled pixel less half a pixel; at 32 the result is res/quorvel.png itself.
# No dates are written, so the same drawing gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
body=$(grep -v '^#' res/quorvel.mvg)
for size in 16 22 24 32 48 64 128 256; do
    read -r scale shift < <(awk -v s="$size" 'BEGIN { f = s / 32; printf "%.6f %.6f\n", f, (f - 1) / 2 }')
    convert -size "${size}x${size}" xc:none -draw "affine $scale,0,0,$scale,$shift,$shift $body" \
        -depth 8 -strip -define png:exclude-chunks=date,time "res/icons/quorvel-$size.png"
done
# The Windows program's icon (res/windows/quorvel.ico): the same pictures at the sizes Explorer
# asks for.
convert res/icons/quorvel-{16,24,32,48,64,256}.png res/windows/quorvel.ico
