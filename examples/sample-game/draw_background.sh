#!/usr/bin/env bash
# draw_background.sh OUT.png [WIDTH HEIGHT]
# Draws the menu background of the sample game with ImageMagick: a moonlit night over
# hills, the title on the left, and a darker panel on the right where the menu's buttons
# sit. The default size is the client area of the menu dialog under Wine at 96 dpi with
# the dialog font mapped to IPA P Gothic; a picture of exactly that size is drawn at 0, 0.
set -euo pipefail

[ $# -eq 1 ] || [ $# -eq 3 ] || { echo "usage: draw_background.sh OUT.png [WIDTH HEIGHT]" >&2; exit 2; }
out=$1
width=${2:-410}
height=${3:-291}

font=$(fc-match -f '%{file}' 'IPAPGothic' 2>/dev/null || true)
[ -f "$font" ] || font=/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf
[ -f "$font" ] || { echo "draw_background.sh: no IPA P Gothic font (fonts-ipafont-gothic)" >&2; exit 1; }

# Stars at fixed pseudo-random places (a small linear congruential sequence), so that
# every build draws the same picture.
stars=""
seed=20240401
for _ in $(seq 60); do
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  x=$(( seed % width ))
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  y=$(( seed % (height * 3 / 5) ))
  stars+="point $x,$y "
done

moon_x=$(( width / 4 ))
moon_y=$(( height / 4 ))
panel_left=$(( width * 64 / 100 ))
hill_top=$(( height * 70 / 100 ))

convert -size "${width}x${height}" gradient:'#0a1430-#43305e' \
  -fill '#fff8d0' -draw "$stars" \
  \( -size "${width}x${height}" xc:none -fill '#fff6c0' \
     -draw "circle $moon_x,$moon_y $((moon_x + 30)),$moon_y" -blur 0x9 \) -composite \
  -fill '#fffbe6' -draw "circle $moon_x,$moon_y $((moon_x + 24)),$moon_y" \
  -fill '#e8e0c0' -draw "circle $((moon_x - 8)),$((moon_y - 5)) $((moon_x - 3)),$((moon_y - 5))" \
  -fill '#1a1430' -draw "polygon 0,$height 0,$((hill_top + 10)) $((width / 5)),$((hill_top - 14)) $((width * 2 / 5)),$((hill_top + 6)) $((width * 3 / 5)),$((hill_top - 22)) $((width * 4 / 5)),$hill_top $width,$((hill_top - 8)) $width,$height" \
  -fill '#0e0b1e' -draw "polygon 0,$height 0,$((hill_top + 30)) $((width / 3)),$((hill_top + 18)) $((width * 2 / 3)),$((hill_top + 34)) $width,$((hill_top + 20)) $width,$height" \
  \( -size "${width}x${height}" xc:none -fill '#00000070' \
     -draw "roundrectangle $panel_left,$((height * 59 / 100)) $((width - 4)),$((height - 4)) 8,8" \) -composite \
  -font "$font" \
  -fill '#20184080' -pointsize 40 -annotate +18+$((height / 2 + 14)) '月影の譜' \
  -fill '#f4eccc' -pointsize 40 -annotate +16+$((height / 2 + 12)) '月影の譜' \
  -fill '#c8c0e8' -pointsize 14 -annotate +20+$((height / 2 + 36)) 'サンプルゲーム' \
  -fill '#8880b0' -pointsize 11 -annotate +20+$((height - 12)) 'TALVEN' \
  -alpha off -type TrueColor "PNG24:$out"
